// Reference-vector files of the hardware models: the tagged hexadecimal text formats in which
// register-level reference vectors are exchanged with hardware verification, their writers and
// readers, and a compare.
//
// Tagged-word files hold lines "%01x %08x \n" (a tag digit and a 32-bit value), 64-bit data lines
// "0 %08x%08x \n" (bits 32..63, then bits 0..31 of a word whose bit i is element i) and the end
// line "f ffffffff \n\n". Address files hold "%08x %08x \n" lines (address, value) and end with
// "ffffffff ffffffff \n\n". Writers replace a file (append = false) or add to its end (append =
// true); every write is checked (phy/common/text_lines.h). Readers take regular files only (a FIFO
// or directory is refused without blocking), of at most kHwRefFileMaxBytes, read at most what
// their caller has room for, and report a malformed, truncated or oversized file with its name
// and the byte offset of the fault.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t kHwHeadInfoWords = 5;

// headInfo: the header of the headed blocks and of the encoder-cell dump (tags 1 .. 4 = words
// 0 .. 3); cleared and written by nrHwPdschRefRun (word 1 eRow, word 2 code block, word 3
// codeword of the block just rate-matched), read by nrHwRefHeadedWordsWrite,
// nrHwRefHeaded64Write and nrHwCbEncDump.
extern uint32_t headInfo[kHwHeadInfoWords];

constexpr uint32_t kHwRefEndTag = 0xF;
constexpr uint32_t kHwRefEndWord = 0xFFFFFFFFu;
constexpr uint32_t kHwRefAddrHead1 = 0x11111111u;  // first header word of address files
constexpr uint32_t kHwRefAddrHead2 = 0xDDDDDDDDu;  // second header word
constexpr uint32_t kHwRefAddrBase = 0xD4C00400u;   // address of element 0 of an address block
constexpr int64_t kHwRefFileMaxBytes = int64_t{256} << 20;  // readers refuse larger files
constexpr int32_t kHwRefWideMaxBits = 384;                  // elements of one wide-word group

// Caller formats (fmt) hold one conversion per value, %d %i %u %x %X or %o with flags "-+ #0",
// width and precision of up to two digits, and literal text ("%%" for a percent sign); a line of
// at most 48 characters. Anything else (%s, %n, length modifiers, '*') is refused.

// Value list: one line per value with fmt.
bool nrHwRefValuesWrite(const char* path, bool append, const int32_t* values, uint32_t n,
                        const char* fmt = "%d \n");

// Packed words: perWord (1 .. 32) elements per word, bit k = element k (lowest bit of each), the
// last word filled with zeros; one word per line with fmt.
bool nrHwRefPackedWrite(const char* path, bool append, const int32_t* bits, uint32_t n,
                        int32_t perWord, const char* fmt = "%08x \n");

// Tagged bit block: header lines tag 1 (0), tag 2 (n), tag 3 (value3), tag a (0); the n bits in
// 64-bit data lines; the end line; one more blank line.
bool nrHwRefTaggedBitsWrite(const char* path, bool append, const int32_t* bits, uint32_t n,
                            uint32_t value3);

// Headed word block: with startAddr < 0, header lines tags 1 .. 4 from headInfo, then per word of
// wordBits (1 .. 32) elements (bit k = element k) "0 " followed by the word in fmt; with a start
// address no header, and each word preceded by its address "%04x" (startAddr, startAddr + 1, ...)
// instead. Then the end line. fmt leaves room for the prefix: at most 40 characters.
bool nrHwRefHeadedWordsWrite(const char* path, bool append, const int32_t* bits, uint32_t n,
                             int32_t wordBits, int64_t startAddr, const char* fmt = "%04x \n");

// Headed 64-bit block: header lines tags 1 .. 4 from headInfo, the n bits in 64-bit data lines,
// the end line.
bool nrHwRefHeaded64Write(const char* path, bool append, const int32_t* bits, uint32_t n);

// Address block: when not appending, the header lines (11111111, head1) and (dddddddd, head2);
// then one line (kHwRefAddrBase + 4 (startIndex + i), values[i]) per value; the end line.
bool nrHwRefAddrBlockWrite(const char* path, bool append, const uint32_t* values, uint32_t n,
                           uint32_t startIndex, uint32_t head1, uint32_t head2);

// Address list: lines (11111111, 0), (dddddddd, 0), then (startAddr + 4 i, values[i]), then
// (ffffffff, ffffffff) and a blank line, each line with fmt (two conversions).
bool nrHwRefAddrListWrite(const char* path, bool append, const uint32_t* values, uint32_t n,
                          uint32_t startAddr, const char* fmt = "%08x %08x \n");

// Wide words: groups of groupBits (1 .. 384) elements packed into twelve 32-bit words (bit k of
// word w = element 32 w + k of the group, the last group filled with zeros), printed "%08x" most
// significant word first, one group per line ended by " \n".
bool nrHwRefWideWrite(const char* path, bool append, const int32_t* bits, uint32_t n,
                      int32_t groupBits);

// Encoder-cell dump: header lines tags 1 .. 4 from headInfo; for each of rows 48-slot rows of
// cell its first bitLen (1 .. 48) slots, (value AND 1) as "%d\n"; the end line.
bool nrHwCbEncDump(const char* path, bool append, const int32_t* cell, int32_t rows,
                   int32_t bitLen);

// Circular-buffer dump: for each of rows 48-slot rows of cell its first bitLen slots, (value AND
// 1) as "%01d \n".
bool nrHwCirBufDump(const char* path, bool append, const int32_t* cell, int32_t rows,
                    int32_t bitLen);

// CRC matrix row: "%02x%08x%08x " of the row's elements 64 .. 71 (only for n = 24; 0 otherwise),
// 32 .. 63 and 0 .. 31 (bit i = element i), then "%06x \n" of the n (1 .. 24) elements of value,
// value[0] most significant. row holds 72 elements for n = 24, else 64.
bool nrHwRefMatrixRowWrite(const char* path, bool append, const int32_t* row, const int32_t* value,
                           int32_t n);

// Register table: with heading, replaces the file with the line "%5s \t %-20s \t %s \n" of
// "Index", name and value (the column titles); otherwise appends the row "%-5d \t %-20s \t %s \n"
// of index, name and value. Texts of more than 1024 characters are refused.
bool nrHwRefRegTableWrite(const char* path, bool heading, int32_t index, const char* name,
                          const char* value);

// Per-symbol dump of streamN (1 .. 3) streams of 16-bit words: for each of the 14 symbols s and
// stream k, the next (regs[14 k + s] AND 0xfff) words of stream k, one "%04x \n" line each. Counts
// that add up to more than streamLen[k] words are refused before anything is written.
bool nrHwRefSymbolDump(const char* path, bool append, const uint32_t* regs,
                       const uint16_t* const* streams, const uint32_t* streamLen, int32_t streamN);

// File name of a report of another kind: name with "_ack" (kind 0), "_csi1" (1) or "_csi2" (2)
// inserted before its extension (the last '.' of the last path component; appended when there is
// none). False, out untouched, for another kind or when out (cap bytes) cannot hold the result.
bool nrHwRefTagName(const char* name, int32_t kind, char* out, std::size_t cap);

// Word reader: n "%x" values (32 bits each, separated by white space) from byte offset on into
// out. Returns the offset after the last value and the white space behind it, or -1 (reported)
// when the file cannot be read, offset lies beyond it, or a value is malformed or missing; out
// then holds the values before the fault.
int64_t nrHwRefWordsRead(const char* path, int64_t offset, uint32_t* out, uint32_t n);

// Tagged block reader: finds the first header line tag 1 whose value is id, takes the element
// count (tag 2) and the stride (tag 3; 0 reads as 1) from the header lines that follow up to the
// first data line, stores element i of the data lines at out[i * stride] and skips the end line.
// Returns the count, or -1 (reported, nothing stored) when the file cannot be read, holds no such
// block, count * stride exceeds cap, or the block is malformed or truncated (a missing end line
// included).
int64_t nrHwRefTaggedRead(const char* path, uint32_t id, int32_t* out, uint32_t cap,
                          uint32_t* stride);

// Pair reader: from byte offset, skips skip "%x %x" pairs, stores the second value of the next n
// pairs in out, then skips an end pair (ffffffff ffffffff) if one follows. Returns the new offset,
// or -1 (reported) as the word reader.
int64_t nrHwRefPairsRead(const char* path, int64_t offset, uint32_t skip, uint32_t* out,
                         uint32_t n);

// Address block reader: checks the two header lines of an address block, skips skip (address,
// value) pairs and stores the values of the next n in out, end pairs between appended blocks
// passed over. Returns n, or -1 (reported) as the word reader.
int64_t nrHwRefAddrBlockRead(const char* path, uint32_t skip, uint32_t* out, uint32_t n);

// The number of positions i < n where a[i] != b[i].
uint32_t nrHwRefCompare(const int32_t* a, const int32_t* b, uint32_t n);
