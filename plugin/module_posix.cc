// module_posix.cc: the Linux module's own translation unit; the exports come from pb_plugin.
// Nothing runs at load or unload: the locks are made on first use and live with the process.
