// Property blobs (MSysObjects.LvProp): the properties of an object and of its columns.
//
//   4 bytes  signature "KKD\0" (Jet 3) or "MR2\0" (Jet 4)
//   blocks until the end, each:
//     u32 block length (these 6 header bytes included), u16 block type, body
//   block type 0x0080, the name list: { u16 length, name bytes } until the block's end
//   other block types (0x0000 the object, 0x0001 a column): u32 length of the name part (this
//     u32 included), the column's name when that length passes 6 (u16 length + bytes), then
//     values until the block's end, each:
//       u16 value length (itself included), u8 DDL flag, u8 data type, u16 name index,
//       u16 data length, data
// Access and every reader parse these blobs as they stand, so a damaged one (a length of zero,
// a length past its block) can hang or crash them; the salvaging read sets such a value null.
#pragma once

#include "jet/base/bytes.h"

namespace jet {

// True when `blob` is a well-formed property blob: the signature, then blocks and values whose
// lengths tile the blob exactly, none of them empty. An empty blob is well formed (no
// properties).
bool IsWellFormedPropertyBlob(ByteSpan blob);

}  // namespace jet
