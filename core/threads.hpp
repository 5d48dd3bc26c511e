// A long column read on the cores the process may use: its rows cut into
// pieces of consecutive rows, which a few threads take one after another, so
// that a thread slowed by other work on its core leaves more of them to the
// others.  Threads are started for one column and joined before it is done,
// so nothing outlives a call (a fork finds no pool), and a thread that
// cannot be started leaves its pieces to the calling thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace merandol {

// The fewest rows worth a thread: starting and joining one costs some 30 us,
// the time of about 3,000 rows of text, so at 2^15 rows a thread costs at
// most a tenth of its time.
inline constexpr std::int64_t kThreadRowsMin = std::int64_t{1} << 15;
inline constexpr int kThreadsMax = 16;
// Pieces of 2^13 rows at least (some 80 us of work): taking one costs an
// atomic increment; at most 256 of them, whose results a caller keeps on
// its stack.
inline constexpr std::int64_t kPieceRowsMin = std::int64_t{1} << 13;
inline constexpr int kPiecesMax = 256;

// How many threads read `rows` rows: one to a core the process may run on,
// each with kThreadRowsMin rows at least, kThreadsMax at most.
int thread_count(std::int64_t rows) noexcept;

// How many pieces `threads` threads cut `rows` rows into: one for one
// thread, else as many of kPieceRowsMin rows as kPiecesMax allows.
constexpr int piece_count(std::int64_t rows, int threads) noexcept {
    if (threads <= 1) return 1;
    const std::int64_t pieces = rows / kPieceRowsMin;
    return static_cast<int>(pieces < threads ? threads : pieces > kPiecesMax ? kPiecesMax : pieces);
}

// The first row of piece `piece` of `pieces` over `rows` rows; piece
// `pieces` starts at `rows`.  The first rows % pieces pieces take one row
// more than the others.
constexpr std::int64_t piece_start(std::int64_t rows, int pieces, int piece) noexcept {
    const std::int64_t each = rows / pieces, more = rows % pieces;
    return each * piece + (piece < more ? piece : more);
}
static_assert(piece_start(10, 3, 0) == 0 && piece_start(10, 3, 1) == 4 && piece_start(10, 3, 2) == 7 &&
              piece_start(10, 3, 3) == 10);
static_assert(piece_count(kThreadRowsMin * 2, 2) == 8 && piece_count(std::int64_t{1} << 40, 16) == kPiecesMax);

// Calls work(context, thread) for each of `threads`, thread 0 on the calling
// thread and each other on a thread of its own (or on the calling thread
// after thread 0, when its own cannot be started); returns when all are
// done.  The threads run with every signal blocked, so that the process's
// handlers run where they expect to.
void run_threads(int threads, void (*work)(void *context, int thread) noexcept, void *context) noexcept;

// Calls read(piece) once for each of `pieces`, on `threads` threads, each
// taking the next piece that none has taken.
template <class Read>
void read_pieces(int threads, int pieces, Read &read) noexcept {
    struct Shared {
        Read &read;
        int pieces;
        std::atomic<int> next{0};
    } shared{read, pieces};
    run_threads(
        threads,
        [](void *context, int) noexcept {
            auto &s = *static_cast<Shared *>(context);
            for (int piece; (piece = s.next.fetch_add(1, std::memory_order_relaxed)) < s.pieces;) s.read(piece);
        },
        &shared);
}

}  // namespace merandol
