/* backup_restore: a file-system backup and its restore through libwinclass's C interface,
 * in the order the client's save and recover programs call it.
 *
 *   backup_restore SAVEPATH FILE
 *
 * SAVEPATH is a folder to back up (its volume joins the snapshot set), FILE a live path
 * on that volume. The backup: start the session, select, add the save path, take the
 * snapshot, list the volumes of the set, map FILE to where it reads from in the shadow
 * copy and translate that back, tell the writers the backup is complete, end the session.
 * The restore: open a restore session on the backup components document the snapshot
 * wrote, pre-restore, (here the files would be written back), post-restore, end.
 *
 * Exit codes: 0 every step succeeded; 1 a step failed (the library's message is printed);
 * 2 bad arguments. */
#include <libwinclass/backup.h>
#include <libwinclass/restore.h>
#include <libwinclass/version.h>
#include <liblocal/messages.h>

#include <stdio.h>
#include <string.h>

#define SAVE_TYPE_FILESYSTEM 3
#define PATH_UNITS 4096

/* Prints a library message for a failed step and frees it. Returns 1 when there was one. */
static int failed(const char *step, struct vo_msg *message)
{
    if (message == NULL)
        return 0;
    fprintf(stderr, "backup_restore: %s failed: message %d: %s\n", step, msg_number(message), msg_text(message));
    msg_free(message);
    return 1;
}

/* UTF-8 to 16-bit units (one unit per character up to U+FFFF); 0 when it does not fit or
 * is not UTF-8 this small converter takes. */
static int to_wide(const char *text, WCHAR *out, size_t units)
{
    size_t n = 0;
    const unsigned char *s = (const unsigned char *)text;
    while (*s != 0) {
        unsigned int c;
        if (*s < 0x80) {
            c = *s++;
        } else if ((*s & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80) {
            c = ((s[0] & 0x1Fu) << 6) | (s[1] & 0x3Fu);
            s += 2;
        } else if ((*s & 0xF0) == 0xE0 && (s[1] & 0xC0) == 0x80 && (s[2] & 0xC0) == 0x80) {
            c = ((s[0] & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
            s += 3;
        } else {
            return 0;
        }
        if (n + 1 >= units)
            return 0;
        out[n++] = (WCHAR)c;
    }
    out[n] = 0;
    return 1;
}

/* 16-bit units to UTF-8 (a surrogate unit is written on its own, as the library does). */
static int to_utf8(const WCHAR *text, char *out, size_t size)
{
    size_t n = 0;
    for (; *text != 0; ++text) {
        unsigned int c = (unsigned int)*text;
        size_t need = c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (n + need >= size)
            return 0;
        if (need == 1) {
            out[n++] = (char)c;
        } else if (need == 2) {
            out[n++] = (char)(0xC0 | (c >> 6));
            out[n++] = (char)(0x80 | (c & 0x3F));
        } else {
            out[n++] = (char)(0xE0 | (c >> 12));
            out[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
            out[n++] = (char)(0x80 | (c & 0x3F));
        }
    }
    out[n] = 0;
    return 1;
}

/* Equal texts, ASCII letters compared without regard to case (Windows paths). */
static int same_path(const char *a, const char *b)
{
    for (;; ++a, ++b) {
        char x = (*a >= 'a' && *a <= 'z') ? (char)(*a - 32) : *a;
        char y = (*b >= 'a' && *b <= 'z') ? (char)(*b - 32) : *b;
        if (x != y)
            return 0;
        if (x == 0)
            return 1;
    }
}

/* The snapshot's steps between the snapshot and the completion: the set's volumes, and
 * FILE mapped into the shadow copy and back. 1 when they all worked. */
static int read_snapshot(const char *file)
{
    static WCHAR live[PATH_UNITS], volume[PATH_UNITS], shadow[PATH_UNITS], driveRoot[8];
    static char shadowUtf8[3 * PATH_UNITS], shadowFile[3 * PATH_UNITS], back[3 * PATH_UNITS];
    struct vsscr_vol_entry *first = NULL;
    const struct vsscr_vol_entry *entry;
    size_t volumeUnits;

    if (failed("listing the snapshot set's volumes", vsscr_get_snapshot_volume_list(&first)))
        return 0;
    for (entry = first; entry != NULL; entry = entry->next)
        printf("volume %s -> %s\n", entry->volume_utf8 ? entry->volume_utf8 : "(none)",
               entry->shadow_path_utf8 ? entry->shadow_path_utf8 : "(no shadow copy)");
    vsscr_free_vol_list(first);

    if (!to_wide(file, live, PATH_UNITS)) {
        fprintf(stderr, "backup_restore: %s: not a path this example converts\n", file);
        return 0;
    }
    /* The library hands out the volume and its shadow root; the caller joins the rest. */
    vsscr_get_mapping(live, volume, PATH_UNITS, shadow, PATH_UNITS, driveRoot, 8);
    if (volume[0] == 0 || shadow[0] == 0) {
        fprintf(stderr, "backup_restore: %s is on no volume of the snapshot set\n", file);
        return 0;
    }
    for (volumeUnits = 0; volume[volumeUnits] != 0; ++volumeUnits)
        ;
    if (!to_utf8(shadow, shadowUtf8, sizeof shadowUtf8) ||
        strlen(file) < volumeUnits || /* ASCII volume names: units and bytes agree */
        (size_t)snprintf(shadowFile, sizeof shadowFile, "%s%s", shadowUtf8, file + volumeUnits) >= sizeof shadowFile) {
        fprintf(stderr, "backup_restore: %s: its shadow path does not fit\n", file);
        return 0;
    }
    printf("map %s -> %s\n", file, shadowFile);

    /* While files are read, the host runtime turns shadow paths back into live ones. */
    if (!vsscr_is_snapshot_path(shadowFile)) {
        fprintf(stderr, "backup_restore: %s is not taken for a shadow path\n", shadowFile);
        return 0;
    }
    vsscr_translate_to_physical(shadowFile, back, sizeof back);
    printf("translate %s -> %s\n", shadowFile, back);
    if (!same_path(back, file)) {
        fprintf(stderr, "backup_restore: the shadow path translates to %s, not %s\n", back, file);
        return 0;
    }
    return 1;
}

int main(int argc, char **argv)
{
    static WCHAR document[PATH_UNITS];
    static char documentUtf8[3 * PATH_UNITS];
    GUID setId;
    int ok;

    if (argc != 3) {
        fprintf(stderr, "usage: backup_restore SAVEPATH FILE\n");
        return 2;
    }
    printf("libwinclass %s\n", WINCLASS_VERSION_STRING);

    /* The backup. */
    if (failed("starting the backup session", vsscr_init_backup(SAVE_TYPE_FILESYSTEM, 0)))
        return 1;
    ok = !failed("selecting the writers", vsscr_select_for_backup()) &&
         !failed("adding the save path", vsscr_add_savepath(argv[1])) &&
         !failed("taking the snapshot", vsscr_process_snap(PATH_UNITS, document, &setId)) &&
         read_snapshot(argv[2]) &&
         !failed("completing the backup", vsscr_backup_complete());
    /* The session ends on every path; it deletes the snapshot set. */
    vsscr_uninit_backup();
    if (!ok)
        return 1;
    if (!to_utf8(document, documentUtf8, sizeof documentUtf8) || documentUtf8[0] == 0) {
        fprintf(stderr, "backup_restore: the snapshot named no backup components document\n");
        return 1;
    }
    printf("backup complete; its document is %s\n", documentUtf8);

    /* The restore, on the document the backup wrote. */
    if (failed("starting the restore session", vsscr_init_recover(documentUtf8)))
        return 1;
    ok = !failed("preparing the restore", vsscr_pre_restore()) &&
         /* ... the files are written back here ... */
         !failed("ending the restore", vsscr_post_restore());
    vsscr_uninit_recover();
    if (!ok)
        return 1;
    printf("restore complete\n");
    return 0;
}
