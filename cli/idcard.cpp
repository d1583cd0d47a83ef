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
#include "command.h"
#include "id_text.h"
#include "identity.h"
#include "json_text.h"

namespace cli {
namespace {

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

struct IdcardArgs : CommandArgs {
    std::string photo_file, finger_file;
};

template <std::string IdcardArgs::*File>
std::string set_file(IdcardArgs &args, const char *value) {
    args.*File = value;
    return *value ? std::string() : "a file name is empty";
}

constexpr Option<IdcardArgs> kOptions[] = {
    {"photo", "FILE", "save the photo record as the card returned it", set_file<&IdcardArgs::photo_file>},
    {"fingerprint", "FILE", "save the fingerprint record as the card returned it",
     set_file<&IdcardArgs::finger_file>},
};

// The files the records go to must be writable before the card is read.
std::string check_idcard(IdcardArgs &args) {
    if (args.operands.empty() || args.operands[0] != "read") return no_subcommand(args.operands);
    if (const std::string why = takes_no_operands(args); !why.empty()) return why;
    for (const std::string *file : {&args.photo_file, &args.finger_file})
        if (!file->empty())
            if (const auto status = vrdump::check_writable(*file, true); !status) return status.error;
    return {};
}

int run_idcard(const Options &, IdcardArgs &args) {
    picc *record = open_card("id_sam");
    if (!record) return report_error("card", errno);
    Records r;
    const int rc = read_records(record, r, !args.finger_file.empty());
    picc_close(record);
    if (rc != 0) return report_error("idcard read", rc);
    print_text(vrdump::decode_id_text(std::span(r.text.data(), static_cast<std::size_t>(r.text_length))));
    if (!args.photo_file.empty() && !save(args.photo_file, r.photo, r.photo_length, "photo")) return 1;
    if (args.finger_file.empty()) return 0;
    if (r.finger_length == 0) {
        std::printf("fingerprint: the card has none\n");
        return 0;
    }
    return save(args.finger_file, r.finger, r.finger_length, "fingerprint") ? 0 : 1;
}

void list_subcommands(std::FILE *out) {
    std::fprintf(out,
                 "subcommands:\n  read\n"
                 "      the text fields in UTF-8; --photo and --fingerprint save those records\n");
}

constexpr Command<IdcardArgs> kIdcard = {
    "idcard",
    "the PRC identity card, read through the reader's SAM",
    "read [--photo FILE] [--fingerprint FILE]",
    "Reads the PRC identity card through the reader's SAM: the text fields (name, sex, nation code,\n"
    "birth date, address, number, authority, validity) in UTF-8; the photo and fingerprint records\n"
    "are saved as the card returned them.\n",
    list_subcommands,
    kOptions,
    check_idcard,
    run_idcard,
};

}  // namespace

constinit const CommandEntry kIdcardCommand = entry_for<kIdcard>();

}  // namespace cli
