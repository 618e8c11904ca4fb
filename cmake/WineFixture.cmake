# The CTest fixture that prepares one Wine prefix for every Windows test (filled in below).
