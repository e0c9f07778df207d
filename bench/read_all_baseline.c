/* The floor for a long entry: all of standard input read into memory, then
 * written back, with nothing else done to it. */
#include <stdlib.h>
#include <unistd.h>

int main(void)
{
    size_t size = 0;
    size_t capacity = 1 << 16;
    char* bytes = malloc(capacity);
    ssize_t got = 0;
    while (bytes != NULL && (got = read(STDIN_FILENO, bytes + size, capacity - size)) > 0) {
        size += (size_t)got;
        if (size == capacity) {
            capacity *= 2; /* realloc moves large blocks with mremap: no copy */
            char* const grown = realloc(bytes, capacity);
            if (grown == NULL) {
                return 1;
            }
            bytes = grown;
        }
    }
    for (size_t written = 0; bytes != NULL && got == 0 && written < size;) {
        const ssize_t put = write(STDOUT_FILENO, bytes + written, size - written);
        if (put <= 0) {
            return 1;
        }
        written += (size_t)put;
    }
    return bytes != NULL && got == 0 ? 0 : 1;
}
