// `idcard read [--photo FILE] [--fingerprint FILE]`: the PRC identity card
// read through the reader's SAM; the text fields printed in UTF-8, the raw
// photo and fingerprint records saved as they came.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "card.h"
#include "cli.h"
#include "id_text.h"
#include "identity.h"
#include "json_text.h"

namespace cli {
namespace {

constexpr const char *kUsage = "usage: vantel-rfid idcard read [--photo FILE] [--fingerprint FILE]\n";

struct Records {
    std::vector<uint8_t> text = std::vector<uint8_t>(SAM_TEXT_MAX);
    std::vector<uint8_t> photo = std::vector<uint8_t>(SAM_PHOTO_MAX);
    std::vector<uint8_t> finger = std::vector<uint8_t>(SAM_FINGER_MAX);
    int text_length = SAM_TEXT_MAX;
    int photo_length = SAM_PHOTO_MAX;
    int finger_length = SAM_FINGER_MAX;
};

// Text and photo, and the fingerprint when it is wanted: one SAM read.
int read_records(picc *record, Records &r, bool with_finger) {
    return with_finger ? picc_ctrl(record, PICC_CTRL_ID_EXCHANGE6, r.text.data(), &r.text_length, r.photo.data(),
                                   &r.photo_length, r.finger.data(), &r.finger_length)
                       : picc_ctrl(record, PICC_CTRL_ID_EXCHANGE, r.text.data(), &r.text_length, r.photo.data(),
                                   &r.photo_length);
}

void print_text(const vrdump::IdText &t) {
    const std::string sex = vrdump::sex_meaning(t.sex);
    std::printf("PRC identity card\n");
    std::printf("%12s: %s\n", "name", t.name.c_str());
    std::printf("%12s: %s%s\n", "sex", t.sex.c_str(), sex.empty() ? "" : (" (" + sex + ")").c_str());
    std::printf("%12s: %s\n", "nation code", t.nation.c_str());
    std::printf("%12s: %s\n", "birth date", t.birth.c_str());
    std::printf("%12s: %s\n", "address", t.address.c_str());
    std::printf("%12s: %s\n", "number", t.number.c_str());
    std::printf("%12s: %s\n", "authority", t.authority.c_str());
    std::printf("%12s: %s - %s\n", "validity", t.valid_from.c_str(), t.valid_to.c_str());
}

bool save(const std::string &path, const std::vector<uint8_t> &bytes, int n, const char *what) {
    const std::vector<uint8_t> part(bytes.begin(), bytes.begin() + n);
    if (const auto status = vrdump::write_file(path, part); !status) {
        std::fprintf(stderr, "%s\n", status.error.c_str());
        return false;
    }
    std::printf("%s: %d bytes saved to %s\n", what, n, path.c_str());
    return true;
}

}  // namespace

int cmd_idcard(const Options &, int argc, char **argv) {
    std::string photo_file, finger_file;
    if (argc < 2 || std::strcmp(argv[1], "read") != 0) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--photo" || a == "--fingerprint") && i + 1 < argc) {
            (a == "--photo" ? photo_file : finger_file) = argv[++i];
        } else {
            std::fprintf(stderr, "idcard: unknown argument %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    picc *record = open_card("id_sam");
    if (!record) return report_error("card", errno);
    Records r;
    const int rc = read_records(record, r, !finger_file.empty());
    picc_close(record);
    if (rc != 0) return report_error("idcard read", rc);
    print_text(vrdump::decode_id_text(std::span(r.text.data(), static_cast<std::size_t>(r.text_length))));
    if (!photo_file.empty() && !save(photo_file, r.photo, r.photo_length, "photo")) return 1;
    if (finger_file.empty()) return 0;
    if (r.finger_length == 0) {
        std::printf("fingerprint: the card has none\n");
        return 0;
    }
    return save(finger_file, r.finger, r.finger_length, "fingerprint") ? 0 : 1;
}

}  // namespace cli
