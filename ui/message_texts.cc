// message_texts.cc: the Shift-JIS bytes of the dialogs' Japanese texts; the same texts stand in
// UTF-8 in dialogs.rc, and the tests hold the two together.
#include "ui/message_texts.h"

#include "ui/resource_ids.h"

namespace pb::ui {

// "直接入力"
const char kDirectInputCaptionSjis[] = "\x92\xBC\x90\xDA\x93\xFC\x97\xCD";
// "送信先のIPアドレス"
const char kDirectInputLabelSjis[] =
    "\x91\x97\x90M\x90\xE6\x82\xCCIP\x83"
    "A\x83h\x83\x8C\x83X";
// "ｷｬﾝｾﾙ" (half-width)
const char kDirectInputCancelSjis[] = "\xB7\xAC\xDD\xBE\xD9";

const char* MessageTextSjis(int string_id) {
  switch (string_id) {
    case PB_IDS_BAD_GROUP_ADDRESS:
      // "マルチキャストアドレスが無効な値です。"
      return "\x83}\x83\x8B\x83`\x83L\x83\x83\x83X\x83g\x83"
             "A\x83h\x83\x8C\x83X\x82\xAA\x96\xB3"
             "\x8C\xF8\x82\xC8\x92l\x82\xC5\x82\xB7\x81"
             "B";
    case PB_IDS_BAD_INTERFACE:
      // "使用するインターフェイスカードのアドレスが無効な値です。\n"
      // "デフォルトを使用する場合は 0.0.0.0 を設定してください。"
      return "\x8Eg\x97p\x82\xB7\x82\xE9\x83"
             "C\x83\x93\x83^\x81[\x83t\x83"
             "F\x83"
             "C\x83X\x83J"
             "\x81[\x83h\x82\xCC\x83"
             "A\x83h\x83\x8C\x83X\x82\xAA\x96\xB3\x8C\xF8\x82\xC8\x92l"
             "\x82\xC5\x82\xB7\x81"
             "B\n\x83"
             "f\x83t\x83H\x83\x8B\x83g\x82\xF0\x8Eg\x97p\x82\xB7"
             "\x82\xE9\x8F\xEA\x8D\x87\x82\xCD 0.0.0.0 \x82\xF0\x90\xDD\x92\xE8\x82\xB5\x82\xC4"
             "\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81"
             "B";
    case PB_IDS_BAD_PORT:
      // "ポート番号が無効な値です。"
      return "\x83|\x81[\x83g\x94\xD4\x8D\x86\x82\xAA\x96\xB3\x8C\xF8\x82\xC8\x92l\x82\xC5\x82\xB7"
             "\x81"
             "B";
    case PB_IDS_BAD_TTL:
      // "マルチキャストで使用するTTLが無効な値です。"
      return "\x83}\x83\x8B\x83`"
             "\x83L\x83\x83\x83X\x83g\x82\xC5\x8Eg\x97p\x82\xB7\x82\xE9TTL\x82\xAA"
             "\x96\xB3\x8C\xF8\x82\xC8\x92l\x82\xC5\x82\xB7\x81"
             "B";
    case PB_IDS_NO_NICKNAME:
      // "エントリ名が未入力です。"
      return "\x83G\x83\x93\x83g\x83\x8A\x96\xBC\x82\xAA\x96\xA2\x93\xFC\x97\xCD\x82\xC5\x82\xB7"
             "\x81"
             "B";
    case PB_IDS_NOT_MULTICAST:
      // "入力されたアドレスはマルチキャストのアドレスとして使用できません。\n"
      // "マルチキャストのアドレスは 224.0.0.0-239.255.255.255 の範囲です。"
      return "\x93\xFC\x97\xCD\x82\xB3\x82\xEA\x82\xBD\x83"
             "A\x83h\x83\x8C\x83X\x82\xCD\x83}\x83"
             "\x8B\x83`\x83L\x83\x83\x83X\x83g\x82\xCC\x83"
             "A\x83h\x83\x8C\x83X\x82\xC6\x82\xB5"
             "\x82\xC4\x8Eg\x97p\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81"
             "B\n\x83}\x83\x8B\x83`"
             "\x83L\x83\x83\x83X\x83g\x82\xCC\x83"
             "A\x83h\x83\x8C\x83X\x82\xCD 224.0.0.0-239.255.255."
             "255 \x82\xCC\x94\xCD\x88\xCD\x82\xC5\x82\xB7\x81"
             "B";
    default:
      return nullptr;
  }
}

}  // namespace pb::ui
