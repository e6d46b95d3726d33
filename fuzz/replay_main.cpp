// Runs a fuzz target over the files given (or the files in the directories
// given), without libFuzzer: the corpus and its regression cases are replayed
// by every build, whatever the compiler.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

static bool replay_file(const std::string &path)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (!file) {
        perror(path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes;
    int c;
    while ((c = getc(file)) != EOF)
        bytes.push_back((uint8_t)c);
    fclose(file);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int replayed = 0;
    for (int i = 1; i < argc; i++) {
        struct stat status;
        if (stat(argv[i], &status) != 0) {
            perror(argv[i]);
            return 1;
        }
        if (!S_ISDIR(status.st_mode)) {
            replayed += replay_file(argv[i]);
            continue;
        }
        DIR *dir = opendir(argv[i]);
        while (struct dirent *entry = dir ? readdir(dir) : nullptr)
            if (entry->d_name[0] != '.')
                replayed += replay_file(std::string(argv[i]) + "/" + entry->d_name);
        if (dir)
            closedir(dir);
    }
    printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
