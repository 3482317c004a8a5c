#pragma once
// Names as the system and servers give them (any bytes) and as the window shows
// them (text), with nothing lost either way. Valid UTF-8 is read as text; each
// byte of an invalid sequence becomes the reserved code point U+DC80..U+DCFF
// (0x80..0xFF), which turns back into that byte. So any byte string comes back
// byte-exact, as some runtimes escape undecodable file names. Pure functions.

#include <QByteArray>
#include <QString>

#include <string_view>

namespace net {

QString textFromBytes(std::string_view bytes);

// UTF-8, except U+DC80..U+DCFF, each of which is the one byte it stands for.
// Any other lone surrogate, which no name can hold, becomes U+FFFD.
QByteArray bytesFromText(const QString& text);

}  // namespace net
