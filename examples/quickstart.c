/* Reads block 4 of the MIFARE Classic 1K card on the reader at the given
 * serial device, with key A FFFFFFFFFFFF (a new card's key). */
#include <errno.h>
#include <stdio.h>

#include <vantelrfid/picc.h>
#include <vantelrfid/sys.h>

/* The library's English message for an error code. */
static const char *message(int code) {
    errno = code;
    return sys_strerror();
}

int main(int argc, char **argv) {
    const char *device = argc > 1 ? argv[1] : "/dev/ttyUSB0";
    const unsigned char key_a[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    unsigned char uid[10], block[16];
    int rc, i, n;

    picc *card = picc_open("mifare_s50", "uart", 0, PICC_SEARCH_PLAIN, device);
    if (!card) {
        fprintf(stderr, "no card on %s: %s\n", device, message(errno));
        return 1;
    }
    n = picc_getuid(card, uid);
    printf("UID");
    for (i = 0; i < n; ++i) printf(" %02X", uid[i]);
    printf("\n");

    rc = picc_auth(card, key_a, 0x60, 4);
    if (rc == 0 && picc_read(card, block, 4) != 0) rc = errno;
    if (rc != 0) {
        fprintf(stderr, "block 4: %s\n", message(rc));
        picc_close(card);
        return 1;
    }
    printf("block 4");
    for (i = 0; i < 16; ++i) printf(" %02X", block[i]);
    printf("\n");
    picc_close(card);
    return 0;
}
