// The FSUIPC request block: its layout, little-endian field access, and the
// walk of an answered block, which trusts nothing the other process wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvion {

inline constexpr std::size_t kFsuipcBlockSize = 0x8000;   // the shared block
inline constexpr std::size_t kFsuipcBlockLimit = 0x7F00;  // requests plus terminator
inline constexpr std::size_t kFsuipcReadHeader = 16;      // id, offset, size, destination
inline constexpr std::size_t kFsuipcWriteHeader = 12;     // id, offset, size
inline constexpr std::size_t kFsuipcTerminator = 4;
inline constexpr uint32_t kFsuipcReadId = 1;
inline constexpr uint32_t kFsuipcWriteId = 2;

// Little-endian 32-bit field at pos; the caller has checked that it fits.
uint32_t get_le32(std::span<const uint8_t> bytes, std::size_t pos);
void put_le32(std::span<uint8_t> bytes, std::size_t pos, uint32_t value);

// A read the client queued. The record's destination field holds its index
// in the client's list plus 1 (0 = no destination), since a 32-bit field
// cannot hold an address.
struct PendingRead {
  uint32_t size = 0;               // as queued
  std::span<uint8_t> destination;  // empty: the data goes nowhere
};

// Walks an answered block from its start to the terminator (a record whose
// identifier's lowest byte is 0) and copies each read's data to the pending
// read its destination field names, at most that destination's length.
//
// The block was written by another process, so every step is checked: a
// record (or the terminator) that does not fit in the block, an identifier
// other than read or write, a destination that names no pending read, or a
// size that differs from the queued one makes the whole block bad. Then
// nothing is copied and the result is false.
bool copy_answered_reads(std::span<const uint8_t> block, std::span<const PendingRead> reads);

}  // namespace tarvion
