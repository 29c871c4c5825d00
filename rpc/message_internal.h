// Inner steps of the message layer, shared by pack.cpp and unpack.cpp and
// reached by the tests. Not part of the public interface.
//
// The buffer holds the outgoing message while packing and the bytes of the
// last read while decoding; the cursor is the next write or read position.
// (A last read that the read-ahead buffer held in full is copied in only when
// something looks at the buffer: see receive_exact.)
#pragma once

#include <cstddef>
#include <cstdint>

#include "razivu/message.h"

namespace razivu::message {

// Sizes of the wire format.
constexpr int32_t buffer_cap = RAZIVU_MESSAGE_CAP;
constexpr int32_t slot_len = 5;               // the length slot of a header
constexpr int32_t header_len = 1 + slot_len + 1;  // tag, slot, separator
constexpr int32_t field_overhead = header_len + 1;  // header and closing separator
// Room a field may ask for: one byte always stays free for a terminator.
constexpr int32_t max_field_len = buffer_cap - 1;
// Data of one packed field: the field and the terminator fit the buffer.
constexpr int32_t max_field_data = max_field_len - field_overhead;
// A body read of L + 1 bytes must fit the buffer, so L is at most this.
constexpr int32_t max_body_len = buffer_cap - 1;
// Decimal text of an integer or boolean, without and with its terminator.
constexpr int32_t max_number_text = 7;
constexpr int32_t number_text_cap = max_number_text + 1;
// Values whose decimal text fits max_number_text characters.
constexpr int32_t min_number = -999999;
constexpr int32_t max_number = 9999999;
// Return codes that the five characters of the slot hold.
constexpr int32_t min_return_code = -9999;
constexpr int32_t max_return_code = 99999;

constexpr char separator = '|';
constexpr int32_t null_len = -1;  // length slot of a null string or byte array

// Type tags.
constexpr char tag_function = '#';
constexpr char tag_string = 's';
constexpr char tag_boolean = 'b';
constexpr char tag_integer = 'i';
constexpr char tag_return = 'r';
constexpr char tag_bytes = 'a';

// Buffer primitives. set_cursor and advance keep the cursor inside the buffer
// only if their callers do; every caller has checked the room first.
char *buffer_start();
int32_t cursor();
void set_cursor(int32_t pos);
void advance(int32_t n = 1);

// The registered slots; null until SetTransport fills them.
RazivuTransportFn send_slot();
RazivuTransportFn receive_slot();
// SetTransport with nulls taken as they are: puts back slots kept from the
// two above and GetSocket.
void put_transport(RazivuTransportFn send, RazivuTransportFn receive, int32_t socket);
// True while the send slot takes a piece of a message whose rest follows.
bool more_follows();

// Formatting without a library call, byte for byte what the old peers write.
// write_slot: the five characters of a length slot, "%5.5ld" for 0..99999 and
// "%4.4ld" (a minus and four digits) for -9999..-1. Other values are the
// caller's fault.
void write_slot(char *out, int32_t value);
// write_number: "%ld" of value and a terminator into out[number_text_cap];
// returns the length. value must lie in min_number..max_number.
int32_t write_number(char *out, int32_t value);
// atoi over at most len bytes: blanks skipped, a sign, digits up to the
// first other byte (a NUL included); no digits give 0.
int32_t parse_decimal(const char *text, int32_t len);
// parse_decimal of the five characters of a length slot.
int32_t parse_slot(const char *text);

// Makes room for a field of n bytes: when cursor + n + 1 exceeds the buffer,
// the bytes packed so far go to the send slot and the buffer is emptied.
// Returns where the field goes (at the cursor, which the caller advances), or
// null, sending nothing and changing nothing, when n can never fit or a flush
// is needed and no send slot is registered.
char *room_for(int32_t n);

// The packers' bodies. Each returns 0, or -1 for a value the wire format
// cannot carry, leaving buffer and cursor as they were and pushing nothing:
// the public packer pushes under its own name.
int32_t pack_string(const char *text, char tag);
int32_t pack_bytes(const char *bytes, int32_t count);
int32_t pack_number(int32_t value, char tag);
int32_t pack_return_code(int32_t code);

// Empties the buffer and reads n bytes into it through the receive slot;
// returns the bytes, or null when the slot gave anything but n (the buffer
// holds what it read) and without reading when n does not fit the buffer or
// no receive slot is registered.
// When the slot is the library's COMReceive or COMReceiveWithTimeout, no
// trace file is open and the socket's read-ahead buffer holds all n bytes
// (read-ahead on, nothing waiting to be sent), the slot is not called: the
// bytes are taken from the read-ahead buffer as COMReadSock would take them
// and returned where they lie. They count as the message buffer's from then
// on and are copied in only if something looks at the buffer (buffer_start,
// a packer, SendBuffer) before the next read or ResetBuffer.
const char *receive_exact(int32_t n);
// receive_exact for the body of the field whose header receive_exact has just
// read in the same decoder call.
const char *receive_body(int32_t n);
// The transport is about to refill or free len bytes at region: a last read
// of the calling thread that still lies there is copied into its buffer
// first. Another thread's lent read is not touched: that thread copies it
// later, if the bytes are still there (transport::copy_lent).
void keep_last_read(const char *region, std::size_t len);

// Reads a 7-byte header. The tag (as a signed char) and the length are stored
// before the separator is checked. -1 with ("unpack_header", 54) pushed.
int32_t unpack_header(int32_t *type_out, int32_t *len_out);

// Body readers for a field of length len: each reads len + 1 bytes and checks
// the closing separator. -1 with (own name, 54) pushed, or (own name, 32) when
// a block cannot be allocated. A length they cannot hold is refused before
// anything is read: unpack_string and unpack_bytes take 0..999,
// unpack_integer 0..7, unpack_boolean 1..999.
// unpack_string and unpack_bytes leave out as it was when the length is
// refused or the read fails, and store null when the allocation or the
// closing separator fails: a failed reader leaves no block behind.
int32_t unpack_string(char **out, int32_t len);
int32_t unpack_boolean(int32_t *out, int32_t len);
int32_t unpack_integer(int32_t *out, int32_t len);
int32_t unpack_bytes(char **out, int32_t len);

// Seam for the allocation failure of the body readers: fn replaces malloc
// for decoded blocks; null restores malloc. Blocks must be free-able.
using Allocate = void *(*)(std::size_t n);
void set_allocate(Allocate fn);

}  // namespace razivu::message
