/* The fewest system calls a safe batch cannot avoid, as the rename benchmark's floor: the folders
 * are opened once and every file is handled relative to them.
 *
 *   bench_floor move SRC DST            one renameat2(RENAME_NOREPLACE) per file
 *   bench_floor copy SRC DST            open, unnamed file, copy_file_range, futimens, linkat
 *   bench_floor replace SRC DST         a copy over an existing name: through a hidden name
 *                                       and one rename over it
 *   bench_floor replace SRC DST TRASH   the same, the replaced file first linked into the
 *                                       trash folder TRASH (files/, info/) with its .trashinfo
 *
 * Every file of SRC gets the name photoNNNNN.jpg in DST, numbered from 1 in the folder's order.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static void fail(const char *what, const char *name)
{
    fprintf(stderr, "bench_floor: %s %s: %s\n", what, name, strerror(errno));
    exit(1);
}

static int openFolder(const char *path)
{
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        fail("open", path);
    return fd;
}

/* Writes the content of `name` in `src` to an unnamed file in `dst`, with its time and mode;
 * returns the unnamed file. */
static int unnamedCopy(int src, const char *name, int dst)
{
    const int in = openat(src, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (in < 0)
        fail("open", name);
    struct stat st;
    if (fstat(in, &st) != 0)
        fail("fstat", name);
    const int out = openat(dst, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0)
        fail("O_TMPFILE", name);
    for (off_t left = st.st_size; left > 0;) {
        const ssize_t n = copy_file_range(in, NULL, out, NULL, (size_t)left, 0);
        if (n <= 0)
            fail("copy_file_range", name);
        left -= n;
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (futimens(out, times) != 0)
        fail("futimens", name);
    close(in);
    return out;
}

static void linkUnnamed(int fd, int folder, const char *name)
{
    char path[32];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, path, folder, name, AT_SYMLINK_FOLLOW) != 0)
        fail("linkat", name);
}

int main(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    const char *mode = argv[1];
    const int src = openFolder(argv[2]);
    const int dst = openFolder(argv[3]);
    int trashFiles = -1, trashInfo = -1;
    if (argc > 4) {
        const int trash = openFolder(argv[4]);
        trashFiles = openat(trash, "files", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        trashInfo = openat(trash, "info", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (trashFiles < 0 || trashInfo < 0)
            fail("open", argv[4]);
    }
    char date[32];
    const time_t now = time(NULL);
    struct tm local;
    strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", localtime_r(&now, &local));

    DIR *dir = fdopendir(openat(src, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        fail("list", argv[2]);
    int number = 0;
    char target[64], hidden[80], info[96], text[4200];
    for (const struct dirent *entry; (entry = readdir(dir));) {
        const char *name = entry->d_name;
        if (name[0] == '.')
            continue;
        snprintf(target, sizeof target, "photo%05d.jpg", ++number);
        if (strcmp(mode, "move") == 0) {
            if (renameat2(src, name, dst, target, RENAME_NOREPLACE) != 0)
                fail("renameat2", name);
            continue;
        }
        const int copy = unnamedCopy(src, name, dst);
        if (strcmp(mode, "copy") == 0) {
            linkUnnamed(copy, dst, target);
        } else {
            snprintf(hidden, sizeof hidden, ".floor-%d.part", number);
            linkUnnamed(copy, dst, hidden);
            if (trashInfo >= 0) {
                snprintf(info, sizeof info, "%s.trashinfo", target);
                const int out =
                    openat(trashInfo, info, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                if (out < 0)
                    fail("create", info);
                const int length = snprintf(text, sizeof text,
                                            "[Trash Info]\nPath=%s/%s\nDeletionDate=%s\n",
                                            argv[3], target, date);
                if (write(out, text, (size_t)length) != length)
                    fail("write", info);
                close(out);
                if (linkat(dst, target, trashFiles, target, 0) != 0)
                    fail("linkat", target);
            }
            if (renameat(dst, hidden, dst, target) != 0)
                fail("renameat", target);
        }
        close(copy);
    }
    closedir(dir);
    return 0;
}
