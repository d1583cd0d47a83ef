// The "tlv" and "ir" commands of the command-line tool. Each takes the
// command's own arguments (argv[0] is the command name) and returns the
// process exit status: 0 done, 1 failed, 2 usage error.
#pragma once

#include <cstddef>
#include <cstdint>

// tlv HEX...: prints the element tree of BER-TLV data with the EMV tag
// descriptions, one line per element.
int cli_cmd_tlv(int argc, char **argv);
// Prints BER-TLV data as the tlv command does; the offset where a
// malformed element starts, or size when all of it printed.
std::size_t cli_print_tlv(const uint8_t *data, std::size_t size);

// ir convert FILE [OUT]: compresses a recorded waveform for the reader.
// ir decompress FILE|HEX: shows a compressed stream as its values.
int cli_cmd_ir(int argc, char **argv);
