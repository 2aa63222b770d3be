#include "applogic/error_text.h"

#include <algorithm>
#include <string>

#include "imagefile/formats.h"

namespace kavun {

namespace {

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

// A detail shown below the sentences, when there is one. The sentences then end with their
// full stop, and the closing parenthesis keeps the error box from appending one.
std::string DetailLine(const std::string& detail) {
  return detail.empty() ? std::string() : "。\n(" + detail + ")";
}

bool IsFormatName(const std::string& detail) {
  return FormatNamed(detail) != nullptr;
}

// The extensions of an unknown file type's detail, as a Japanese list: ".png、.jpg、.bmp".
std::string JapaneseList(const std::string& words) {
  std::string list;
  for (std::size_t start = 0; start < words.size();) {
    const std::size_t end = std::min(words.find(' ', start), words.size());
    if (end > start) list += (list.empty() ? "" : "、") + words.substr(start, end - start);
    start = end + 1;
  }
  return list;
}

// The sentences for the error's kind.
std::string KindText(const Error& error);

}  // namespace

std::string JapaneseErrorText(const Error& error) {
  std::string text = KindText(error);
  if (!error.LeftOverFile().empty()) {
    // After a detail line the closing parenthesis ends the text; otherwise a full stop.
    text += text.ends_with(")") ? "\n" : "。\n";
    text += "作業用の一時ファイル " + Quoted(error.LeftOverFile()) +
            " はフォルダの設定により削除できませんでした。不要なファイルなので、削除してください";
  }
  return text;
}

namespace {

std::string KindText(const Error& error) {
  const std::string& path = error.Path();
  const std::string& detail = error.Detail();
  // The file as it begins a sentence and inside one, and in front of a sentence about something
  // else. A quoted name stands apart from the words around it; "このファイル" needs no space.
  const std::string file = path.empty() ? std::string("このファイル") : Quoted(path) + " ";
  const std::string inside = path.empty() ? file : " " + file;
  const std::string about = path.empty() ? std::string() : Quoted(path) + ": ";
  const auto [first, second] = SplitDetail(detail);
  switch (error.Kind()) {
    case ErrorKind::Other:
      if (detail.empty()) return about + "処理を完了できませんでした";
      return about + "処理を完了できませんでした" + DetailLine(detail);
    case ErrorKind::Usage:
      return about + "指定が正しくありません" + DetailLine(detail);
    case ErrorKind::FileNotFound:
      return file + "が見つかりません。ファイル名と場所を確かめてください";
    case ErrorKind::PermissionDenied:
      return file +
             "にアクセスする権限がありません。ファイルとフォルダのアクセス権を確かめてください";
    case ErrorKind::ReadOnlyFileSystem:
      return "読み取り専用のため" + inside +
             "に書き込めませんでした (ディスクまたはファイルシステムが読み取り専用です)。書き込みで"
             "きる別の場所に保存してください";
    case ErrorKind::NotAFile:
      return file +
             "はフォルダなどで、通常のファイルではありません。ファイルを指定し直してください";
    case ErrorKind::DiskFull:
      return "ディスクの空き容量が足りないため" + inside +
             "を保存できませんでした。空き容量を増やしてから、もう一度保存してください";
    case ErrorKind::ReadFailed:
      return file + "を読み込めませんでした。ファイルとディスクに問題がないか確かめてください" +
             DetailLine(detail);
    case ErrorKind::WriteFailed:
      return file + "を保存できませんでした。保存先とディスクに問題がないか確かめてください" +
             DetailLine(detail);
    case ErrorKind::FileEndsEarly:
      return file + "は途中で切れています。ファイルが壊れている可能性があります";
    case ErrorKind::UnknownFileType:
      return file + "は対応していない種類のファイルです。拡張子が " +
             JapaneseList(detail.empty() ? AcceptedExtensions() : detail) +
             " のファイルを指定してください";
    case ErrorKind::NotThisFormat:
      if (const PictureFormat* found = FormatNamed(SplitDetail(second).first);
          IsFormatName(first) && found != nullptr) {
        return file + "は拡張子が示す " + first + " 形式ではなく、" + found->Name +
               " 形式の画像です。拡張子を " + std::string(found->Extensions[0]) +
               " に変えてから開いてください";
      }
      if (IsFormatName(detail)) {
        return file + "は拡張子が示す " + detail +
               " 形式の画像ではありません。拡張子がファイルの中身と合っているか確かめてください";
      }
      return file +
             "は拡張子が示す形式の画像ではありません。拡張子がファイルの中身と合っているか確か"
             "めてください" +
             DetailLine(detail);
    case ErrorKind::CorruptData:
      return file + "の画像データが壊れているため読み込めません" + DetailLine(detail);
    case ErrorKind::UnsupportedVariant:
      return file + "はこのプログラムが対応していない種類の画像です" + DetailLine(detail);
    case ErrorKind::PictureTooLarge:
      return file + "の画像は大きすぎるため扱えません" + DetailLine(detail);
    case ErrorKind::FileTooLarge:
      return file + "は大きすぎるため読み込めません" + DetailLine(detail);
    case ErrorKind::EmptyPicture:
      return "画像に画素がないため" + inside + "に保存できません";
    case ErrorKind::OutOfMemory:
      return (path.empty() ? std::string("メモリが不足しています")
                           : file + "を処理するためのメモリが不足しています") +
             "。ほかのプログラムを終了してから、もう一度お試しください";
    case ErrorKind::OutsideRectangle:
      return about + "選択範囲 (" + first + ") が画像" +
             (second.empty() ? std::string() : " (" + second + " ピクセル)") +
             " からはみ出しています。画像は変更されていません";
    case ErrorKind::PasswordNotCp932:
      return about + "パスワードの文字 " + detail +
             " は Shift_JIS (CP932) で表せないため使えません。別の文字に置き換えてください";
    case ErrorKind::PasswordNotUtf8:
      return about + "パスワードが UTF-8 の文字列として正しくありません" + DetailLine(detail);
    case ErrorKind::Irreversible:
      return about + "この係数は非可逆です。モザイクを掛けた画像を戻すことは出来ません" +
             DetailLine(detail);
    case ErrorKind::Interrupted:
      return about + "処理が中断されました";
    case ErrorKind::RowOutOfRange:
      // The row accessor's graphics error, worded as the system has always worded it.
      return "スキャンライン のインデックスが範囲を越えました";
    case ErrorKind::NoPassword:
      return about + "パスワードが入力されていません";
    case ErrorKind::FileInUse:
      return file +
             "は別のプログラムが使用中です。そのプログラムでファイルを閉じてから、もう一度お"
             "試しください";
  }
  return about + "処理を完了できませんでした" + DetailLine(detail);
}

}  // namespace

}  // namespace kavun
