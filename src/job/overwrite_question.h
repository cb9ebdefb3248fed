// The question asked before a body or setup file replaces a non-empty file:
// Yes overwrites, No asks for another name, Cancel skips the save.
#pragma once

#include <string>

#include "core/encoding.h"
#include "platform/platform.h"

namespace velkaro {

inline MsgAnswer AskOverwrite(const std::string& path) {
  const std::string question =
      Sjis("同一のファイル名が存在します。上書きしても良いですか?\r\n・・・ ") + Utf8ToSjis(path) +
      "\r\n\r\n" + Sjis("[はい]・・・・ 上書きします。\r\n") +
      Sjis("[いいえ]・・・ 再度ファイル名を聞き直します。\r\n") +
      Sjis("[キャンセル]・ ファイル保存をスキップします。\r\n");
  return CurrentPlatform().MessageBox(question, MsgButtons::YesNoCancel, MsgIcon::Question);
}

}  // namespace velkaro
