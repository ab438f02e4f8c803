// Text as Jet stores it, to and from the engine's UTF-16 strings.
//
// Jet 3 stores text as single bytes in the database code page (page 0 offset 0x3C; 1252 in
// practice). The code-page tables here map every byte, including the ones the code page leaves
// undefined (to U+0080..U+00FF of the same value), so decode then encode gives back every byte.
//
// Jet 4 stores text as UCS-2 little-endian, or, in columns that allow it, in "compressed
// Unicode": FF FE, then runs that alternate between one byte per character (the low byte of a
// character whose high byte is 0) and plain UCS-2, a single 00 byte toggling between them,
// starting in the one-byte mode.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "jet/base/bytes.h"
#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

// The decoders and encoders each have a form that writes into an existing buffer, so that a
// reader or writer going through many rows reuses its buffers.
std::u16string DecodeCodePage(ByteSpan bytes, uint16_t code_page);
void DecodeCodePageTo(ByteSpan bytes, uint16_t code_page, std::u16string& out);
// Characters the code page cannot represent become '?'.
Bytes EncodeCodePage(std::u16string_view text, uint16_t code_page);
void EncodeCodePageTo(std::u16string_view text, uint16_t code_page, Bytes& out);
// Whether `byte` decodes to a character that encodes back to it; whether every byte does: then
// the code page's bytes and the texts they decode to are one-to-one.
bool CodePageMapsByteBack(uint16_t code_page, uint8_t byte);
bool CodePageMapsEveryByteBack(uint16_t code_page);
// EncodeCodePageTo, returning whether the text decodes back from `out` (every character has a
// byte of its own).
bool EncodeCodePageExactlyTo(std::u16string_view text, uint16_t code_page, Bytes& out);

// Plain UCS-2 LE; an odd trailing byte is ignored.
std::u16string DecodeUcs2(ByteSpan bytes);
void DecodeUcs2To(ByteSpan bytes, std::u16string& out);
Bytes EncodeUcs2(std::u16string_view text);
void EncodeUcs2To(std::u16string_view text, Bytes& out);

// Jet 4 text value: compressed when it starts with FF FE, plain UCS-2 otherwise. The compressed
// form starts in one-byte mode (each byte a character in U+0001..U+00FF); a 0 byte switches
// between that and two-byte mode (UCS-2 LE characters), so no character of a compressed value
// may be U+0000 or have a zero low byte in two-byte mode.
std::u16string DecodeJet4Text(ByteSpan bytes);
void DecodeJet4TextTo(ByteSpan bytes, std::u16string& out);
// Text and Memo values are compressed by slightly different rules.
enum class TextKind : uint8_t { kText, kMemo };
// True when Access would store `text` compressed in a column allowing compression: 3 to 1024
// characters, none U+0000 nor, past U+00FF, with a zero low byte, and the compressed form (it
// switches mode at every change between U+0001..U+00FF and the rest, even for a single Latin
// letter between Chinese ones) no longer than UCS-2 for Text, shorter for Memo. Learnt from the
// rows of real files (Chinese, Russian and Latin text).
bool ShouldCompress(std::u16string_view text, TextKind kind = TextKind::kText);
// The test of ShouldCompress once the compressed form is known: whether Access keeps the
// compressed form, `compressed_size` bytes long (FF FE included), of a text of `chars`
// characters that has one.
bool CompressedFormKept(size_t chars, size_t compressed_size, TextKind kind);
// The form Access writes: compressed when `compression_allowed` and ShouldCompress, else UCS-2.
Bytes EncodeJet4Text(std::u16string_view text, bool compression_allowed,
                     TextKind kind = TextKind::kText);
void EncodeJet4TextTo(std::u16string_view text, bool compression_allowed, TextKind kind,
                      Bytes& out);

// Text of either version: Jet 3 code page or Jet 4 (compressed or plain).
std::u16string DecodeText(ByteSpan bytes, Version version, uint16_t code_page);
void DecodeTextTo(ByteSpan bytes, Version version, uint16_t code_page, std::u16string& out);

// UTF-16 <-> UTF-8. Unpaired surrogates become U+FFFD; invalid UTF-8 sequences become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace jet
