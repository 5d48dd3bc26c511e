// Replays a valgrind lackey trace (--trace-mem=yes) on standard input and
// counts, per load instruction, the loads a processor cannot answer from
// its store buffer: a byte of the load was stored within the last `window`
// instructions, and no single store holds every byte of it (a wide load
// over several narrower stores, or over one that covers it in part).  Such
// a load waits until the stores reach the cache.  Prints one line per load
// instruction, "pc count store_pc", the store being one of those it
// overlapped, most frequent first.  tools/forwarding-stalls drives it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <vector>

namespace {

// The last store of each byte, kept in a direct-mapped table: a byte whose
// slot another address took since counts as stored long ago.  With 2^24
// slots and a window of some 80 instructions two addresses rarely meet.
struct ByteStore {
    std::uint64_t address;
    std::uint64_t store;  // the store's ordinal number
    std::uint64_t instruction;
    std::uint64_t pc;
};
constexpr std::size_t kSlots = std::size_t{1} << 24;

struct Stalls {
    std::uint64_t count = 0;
    std::uint64_t store_pc = 0;
};

}  // namespace

int main(int argc, char **argv) {
    const std::uint64_t window = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 80;
    std::vector<ByteStore> slots(kSlots);
    std::unordered_map<std::uint64_t, Stalls> by_pc;
    std::uint64_t instructions = 0, stores = 0, pc = 0;
    char line[256];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        // " S 1ffefffd40,8", "I  04e6f000,3"; anything else is valgrind's.
        char *p = line;
        while (*p == ' ') ++p;
        const char kind = *p++;
        if (kind != 'I' && kind != 'L' && kind != 'S' && kind != 'M') continue;
        const std::uint64_t address = std::strtoull(p, &p, 16);
        if (*p++ != ',') continue;
        const unsigned size = static_cast<unsigned>(std::strtoul(p, nullptr, 10));
        if (kind == 'I') {
            ++instructions;
            pc = address;
            continue;
        }
        if (kind == 'L' || kind == 'M') {  // M: a load, then a store, of the same bytes
            bool recent = false, whole = true;
            std::uint64_t first_store = 0, store_pc = 0;
            for (unsigned b = 0; b < size; ++b) {
                const ByteStore &s = slots[(address + b) & (kSlots - 1)];
                const bool known = s.address == address + b && instructions - s.instruction <= window;
                if (!known) {
                    whole = false;
                    continue;
                }
                recent = true;
                store_pc = s.pc;
                if (first_store == 0)  // ordinals start at 1
                    first_store = s.store;
                else if (s.store != first_store)
                    whole = false;
            }
            if (recent && !whole) {
                Stalls &stalls = by_pc[pc];
                ++stalls.count;
                stalls.store_pc = store_pc;
            }
        }
        if (kind == 'S' || kind == 'M') {
            ++stores;
            for (unsigned b = 0; b < size; ++b)
                slots[(address + b) & (kSlots - 1)] = {address + b, stores, instructions, pc};
        }
    }
    std::vector<std::pair<std::uint64_t, Stalls>> sorted(by_pc.begin(), by_pc.end());
    std::sort(sorted.begin(), sorted.end(),
              [](const auto &a, const auto &b) { return a.second.count > b.second.count; });
    for (const auto &[load_pc, stalls] : sorted)
        std::printf("%llx %llu %llx\n", static_cast<unsigned long long>(load_pc),
                    static_cast<unsigned long long>(stalls.count), static_cast<unsigned long long>(stalls.store_pc));
}
