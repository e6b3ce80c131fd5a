// TqzTools, desktop family: the clipboard in HTML and plain text, screenshots as JPEG, a message
// box, a credential prompt, shortcuts, file types, a password generator and a one-line
// diagnostic log.
//
// How each works on Linux:
//  * CopyHTMLToClipBoard puts the HTML clipboard text (BuildClipboardHtml) on the X11 CLIPBOARD
//    selection as "text/html" and PlainStr in UTF-8 as "UTF8_STRING". X11 selections carry
//    their length, so no terminating zero is added. This process serves the selection from a
//    thread until another program takes it (X11 keeps no copy of its own). No display, or a
//    selection that cannot be taken, raises Exception("Cannot open clipboard"); an HTML text
//    too long for the six-digit end offset gives false.
//  * TakeScreenShot reads the screen through X11 (with ActiveWindow, the area of the window
//    _NET_ACTIVE_WINDOW names, with its frame), encodes it with libjpeg at the quality's low
//    8 bits (0 counts as 1, above 100 as 100) and writes the file by a temporary file renamed
//    over it. False without a display or on any failure.
//  * ShowMessage and PromptForCredentials show `zenity` dialogs (an information box; a form with
//    a user name and a hidden password entry). Without a desktop, or without zenity, nothing is
//    shown and the result is false. zenity cannot fill the form in advance: the user types the
//    user name again. The user name keeps at most 1023 UTF-16 units, the password 511.
//  * PushApplicationToFront: this library has no application window of its own: false.
//  * ClearKeyboardBuffer: there is no keyboard message queue here: 0.
//  * CreateLinkFile writes a freedesktop desktop entry (UTF-8) as LinkFile: an executable file
//    (or one that does not exist yet) becomes Type=Application with Exec (FileName and the
//    Parameter split by the Windows rules, quoted as desktop entries require) and Path (the
//    folder of FileName); a folder, another file or a URL becomes Type=Link with its URL. Name
//    is the link file's name without its extension, Comment the description, Icon the icon
//    file (icon files hold one icon here: IconId is not used). Desktops list only names ending
//    in ".desktop". The file is executable, as desktops require for launchers.
//  * RegisterFileType writes its keys into the classes hive of the registry stand-in.
//  * GeneratePassword draws from the system's random source (getrandom) without bias.
//  * qdl writes to "qdl.log" in the folder of the running program unless another file is named.
#pragma once

#include <cstdint>
#include <optional>

#include "Text.h"
#include "Variant.h"

class TqzToolsDesktop {
 public:
  TqzToolsDesktop() = delete;

  static bool CopyHTMLToClipBoard(const UnicodeString& PlainStr, const UnicodeString& HtmlStr);
  static bool TakeScreenShot(const UnicodeString& JpegFileName, bool ActiveWindow, int32_t JpegQuality);
  static bool ShowMessage(const Variant& MessageText);
  static bool PromptForCredentials(const UnicodeString& Caption, const UnicodeString& MessageText,
                                   UnicodeString& UserName, UnicodeString& Password);
  static bool PushApplicationToFront();
  static int32_t ClearKeyboardBuffer();
  static bool CreateLinkFile(const UnicodeString& FileName, const UnicodeString& Parameter,
                             const UnicodeString& Description, const UnicodeString& LinkFile,
                             const UnicodeString& IconFile, int32_t IconId);
  static bool RegisterFileType(const UnicodeString& ExeFile, const UnicodeString& FileType,
                               const UnicodeString& Extension, const UnicodeString& IconFile, int32_t IconId,
                               bool EnableNewFile);
  static AnsiString GeneratePassword(int32_t PWLen, bool HighSec);
  static bool qdl(const Variant& Data, const UnicodeString& OtherLogFile = u"");
};

// The HTML clipboard text: the 81-byte header ("Version:0.9", "StartHTML:-1", "EndHTML:-1",
// "StartFragment:000081", "EndFragment:" + the whole length as six digits, each line ended by
// CR LF), the HTML in UTF-8 (a surrogate pair is one 4-byte sequence) and CR LF. nullopt when the
// whole text would reach 1,000,000 bytes, which six digits cannot count.
std::optional<AnsiString> BuildClipboardHtml(const UnicodeString& HtmlStr);

// Routines of the tools unit behind the class methods.
bool TakeScreenShot(const UnicodeString& JpegFileName, bool ActiveWindow, int32_t JpegQuality);
AnsiString GeneratePassword(int32_t PWLen, bool HighSec);
