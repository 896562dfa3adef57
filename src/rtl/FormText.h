// The text notation of form streams: how forms are kept in the repository and
// what `qlxform dump` prints. Writing a tree as text and reading it back gives
// the same tree, tags included, so any valid stream survives text and back.
//
//   object Form1: TForm1         object record without prefix byte
//   object TLabel                ... with an empty object name
//   inherited Form1: TForm1      prefix $F1; `inline` gives $F4; `[n]` after the
//   inline Frame1: TFrame1 [2]   class adds ffChildPos with child position n
//   object $F8 X: TX             any other prefix byte, as is
//     Font.Name = 'Tahoma'       properties in stream order, names dotted
//     object ... end             children
//   end
//
// Values (keywords and names are case-insensitive):
//   8  -300  $FF                 integer, smallest of vaInt8/16/32 (vaInt64 beyond)
//   i16(8) i32(8) i64(8)         integer with a wider tag than needed / vaInt64
//   1.5  -2.5E-7                 extended, decimal (dump writes the shortest that
//   ext($3FFF8000000000000000)   reads back exactly) or as its 80 bits, sign first
//   single(1.5) single($3FC00000)  date(45000.25) date($40E5F92000000000)
//   currency(12.3456)            exact, at most four decimals
//   'It''s' #13#10 + 'x'         string: quoted pieces and #byte codes, adjacent or
//                                joined by +; vaString up to 255 bytes, else vaLString
//   long'abc'                    vaLString however short
//   w'abc'#8364                  vaWString: #n is a UTF-16 unit, quoted text is UTF-8
//   'Wide '#1046#8364            vaWString too: a plain string with a code above 255
//   utf8'abc'#195#169            vaUTF8String: #n is a byte
//   clMax  ident'my name'        identifier; the quoted form for odd names and for
//                                the words True, False, nil and file
//   True False nil
//   [fsBold, fsItalic]           set
//   (1 'a' clRed)                list
//   <item ... end item [3] ... end>  collection; [n] is an item's order value
//   {0A1B2C}                     binary, as hex digits
//   file 'payload/x.dll'         binary read from a file relative to the text's
//                                folder (TFormValue::SourceFile keeps the path)
// Names that are not plain dotted identifiers, and property names that are
// keywords (object, inherited, inline, end), are written quoted: 'odd name'.
// A prefix word (w, utf8, long, ident) or function word (i16, ext, single...) must
// touch its quote or parenthesis. `//` starts a comment.
#pragma once

#include "FormTree.h"
#include "Streams.h"

#include <functional>

#include <string>

namespace rtl {

std::string FormToText(const TFormObject& root);

// The text of the binary form stream at form's position ("TPF0" and the root
// object; bytes after it are left unread), handed to sink piece by piece, so
// that only one value of the form is in memory at a time. Reads and checks
// exactly as ReadForm does; on a failure sink may have had part of the text.
void FormStreamToText(TStream& form, const std::function<void(const std::string&)>& sink);

// Parses text; `file` paths are resolved against baseDir. With loadFiles
// false, a `file` value only records its path and carries no bytes.
// Errors raise EParserError "Line %d: %s".
TFormObject TextToForm(const std::string& text, const std::string& baseDir = "",
                       bool loadFiles = true);
// Reads and parses a text form file; `file` paths are relative to its folder.
TFormObject LoadFormText(const std::string& fileName, bool loadFiles = true);

} // namespace rtl
