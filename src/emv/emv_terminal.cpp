// The terminal's side of the EMV flows: the defaults that fill DOL entries
// the transaction input lacks, and the per-tag defaults kept for callers.
#include "emv.h"

// 9F66 terminal transaction qualifiers, 9F03 amount other, 9F1A terminal
// country, 5F2A transaction currency, DF60, 9F33 terminal capabilities,
// 9F37 unpredictable number, 9F4E merchant name and location, 8A
// authorisation response code.
VR_API extern const uint8_t pos_config[EMV_POS_CONFIG_SIZE] = {
    0x9F, 0x66, 0x04, 0xF6, 0x80, 0x00, 0x00,
    0x9F, 0x03, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x9F, 0x1A, 0x02, 0x01, 0x56,
    0x5F, 0x2A, 0x02, 0x01, 0x56,
    0xDF, 0x60, 0x01, 0x00,
    0x9F, 0x33, 0x03, 0x60, 0xD8, 0xC8,
    0x9F, 0x37, 0x04, 0x20, 0x65, 0xC8, 0xF9,
    0x9F, 0x4E, 0x14, 'k', 'o', 'r', 'v', 'a', 'n', ' ', 't', 'e', 'c', 'h', ' ', 'p', 'o', 's', ' ', 'v', '0', '.', '1',
    0x8A, 0x02, 0x59, 0x31,
};

VR_API extern const uint8_t pos_default_9F6604[4] = {0xF6, 0x80, 0x00, 0x00};
VR_API extern const uint8_t pos_default_9F0206[6] = {0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
VR_API extern const uint8_t pos_default_9F0306[6] = {};
VR_API extern const uint8_t pos_default_9F1A02[2] = {0x01, 0x56};
VR_API extern const uint8_t pos_default_9505[5] = {};
VR_API extern const uint8_t pos_default_5F2A02[2] = {0x01, 0x56};
VR_API extern const uint8_t pos_default_9A03[3] = {0x12, 0x03, 0x09};
VR_API extern const uint8_t pos_default_9C01[1] = {0x00};
VR_API extern const uint8_t pos_default_9F3704[4] = {0x22, 0x1D, 0x22, 0x20};
VR_API extern const uint8_t pos_default_DF6001[1] = {0x00};
VR_API extern const uint8_t pos_default_9F2103[3] = {0x11, 0x22, 0x33};
VR_API extern const uint8_t pos_default_9F4E14[20] = {'k', 'o', 'r', 'v', 'a', 'n', ' ', 't', 'e', 'c',
                                               'h', ' ', 'p', 'o', 's', ' ', 'v', '0', '.', '1'};
VR_API extern const uint8_t pos_default_8A02[2] = {0x59, 0x31};

#define VR_SOURCE_RECORD {0x00, 0x01, 0x01}
VR_API extern const uint8_t src_9F6604[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_9F0206[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_9F0306[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_9F1A02[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_9505[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_5F2A02[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_9A03[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_9C01[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_9F3704[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_DF6001[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_9F2103[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_9F4E14[3] = VR_SOURCE_RECORD;
VR_API extern const uint8_t src_8A02[3] = VR_SOURCE_RECORD;
#undef VR_SOURCE_RECORD
