#pragma once
// The single-byte code pages of RTF text: a byte's character, built once
// per code page.
#include <array>

namespace krtf {

using ByteTable = std::array<char16_t, 256>;

// The table of a Windows code page (1252 when it is unknown or not a
// single-byte one).
const ByteTable& CodePageTable(int codePage);

// The code page of a font character set (\fcharset); 0 when it has none.
int CharsetCodePage(int charset);

}  // namespace krtf
