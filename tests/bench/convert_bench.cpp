// Both converters in memory, on books given by path (as tools/bench generates them), in MB/s of input.
// The direction follows the name: *.mac.txt converts to W95, anything else to Mac.
//   convert_bench [--benchmark_... options] BOOK...
#include <benchmark/benchmark.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "convert/ferryline.h"

namespace {

struct Book {
    std::string name;
    FerrylineDirection direction;
    char* bytes;  // from ferryline_system_alloc, as the program's own input block: huge pages where they are had
    size_t size;
};

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool ReadBook(const std::string& path, Book* book)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bool read = fseek(file, 0, SEEK_END) == 0;
    long size = read ? ftell(file) : -1;
    read = size >= 0 && fseek(file, 0, SEEK_SET) == 0;
    book->size = read ? static_cast<size_t>(size) : 0;
    book->bytes = static_cast<char*>(ferryline_system_alloc(nullptr, nullptr, 0, book->size + 1));
    read = read && book->bytes != nullptr && fread(book->bytes, 1, book->size, file) == book->size;
    fclose(file);
    book->direction = EndsWith(path, ".mac.txt") ? FERRYLINE_MAC_TO_WIN : FERRYLINE_WIN_TO_MAC;
    size_t slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    book->name = (book->direction == FERRYLINE_MAC_TO_WIN ? "mac2win/" : "win2mac/") + base.substr(0, base.find('.'));
    return read;
}

// Takes every piece and keeps only its size, so the figure is the converter's alone.
FerrylineStatus CountBytes(void* context, const void* /*data*/, size_t size)
{
    *static_cast<size_t*>(context) += size;
    return FERRYLINE_OK;
}

void ConvertBook(benchmark::State& state, const Book* book)
{
    size_t written = 0;
    for (auto _ : state) {
        written = 0;
        if (ferryline_convert(book->direction, nullptr, book->bytes, book->size, "book", CountBytes, &written,
                              nullptr, nullptr) != FERRYLINE_OK) {
            state.SkipWithError("the conversion failed");
            break;
        }
        benchmark::DoNotOptimize(written);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(book->size));
    state.counters["output_bytes"] = static_cast<double>(written);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::vector<Book> books(static_cast<size_t>(argc > 1 ? argc - 1 : 0));
    for (int i = 1; i < argc; ++i) {
        Book* book = &books[static_cast<size_t>(i - 1)];
        if (!ReadBook(argv[i], book)) {
            fprintf(stderr, "convert_bench: cannot read %s\n", argv[i]);
            return 2;
        }
        benchmark::RegisterBenchmark(book->name.c_str(), ConvertBook, book)->Unit(benchmark::kMillisecond);
    }
    if (books.empty()) {
        fprintf(stderr, "usage: convert_bench [--benchmark_... options] BOOK...\n");
        return 2;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
