#include "app/ConversionPipeline.h"

#include "platform/Processors.h"
#include "stl/TextStlReader.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// How a run flows. One reader thread reads facets off the stream into
// batches; worker threads take the batches in order, decode a text facet's
// point lines, orient every facet and write its RAW line into the batch; the
// caller's thread takes the batches back in order and hands their lines to
// the writer. A fixed ring of batches, a few per worker, bounds the memory:
// the reader waits for a free batch, so reading runs at most that far ahead
// of writing.
//
// Every batch says where, inside it, reading would have stopped: at the
// first point line that does not decode or facet that cannot be oriented. The
// caller's thread meets the batches in reading order, so the first stop it
// meets is the one reading all before writing would have met; it writes the
// lines before it and nothing after, and stops the reader. With one thread
// the same steps run on the caller's thread, each batch written as soon as
// it is full.
namespace trimeld {
namespace {

// Facets in one batch: large enough that handing batches between threads
// costs little next to their work, small enough that the ring stays small.
// A text facet takes four times the room of a binary one in a batch (its
// fields and their places), so text batches hold a quarter as many: the
// ring's memory is touched once and stays small.
constexpr std::size_t cBATCH_FACETS = 8192;
constexpr std::size_t cTEXT_BATCH_SHARE = 4;
// Room reserved for the point lines of a text facet: four of ordinary length.
constexpr std::size_t cPOINT_LINES_ROOM = 4 * 48;
// Batches in the ring for every worker: one it works on, one waiting.
constexpr std::size_t cBATCHES_PER_WORKER = 2;

// One text point line, kept in the batch's bytes, or the point itself where
// the reader decoded it.
struct TTextPoint {
    std::uint32_t offset;
    std::uint32_t size;
    std::int64_t line;
    TPoint3D value;
    bool decoded;
    bool normal;
};

// Each on its own cache lines: the reader fills one batch while workers
// finish the ones beside it.
struct alignas(64) TBatch {
    // Filled by the reader.
    std::vector<TSTLFace> faces;        // binary facets; text facets once parsed
    std::vector<TTextPoint> points;     // text: four per facet, then those of a facet cut short
    std::vector<std::int64_t> endLines; // text: the ENDLOOP line of each facet
    std::string lineBytes;
    std::int64_t firstFacet = 1; // binary: the number of the first facet, from 1
    bool text = false;

    // Filled by a worker.
    std::size_t good = 0; // facets before the first that stops reading
    bool stopped = false;
    TReadStop stop;
    std::exception_ptr failure;    // a failure of the system while working on it
    std::unique_ptr<char[]> lines; // room for a line of every facet
    std::size_t linesSize = 0;

    [[nodiscard]] std::size_t FacetCount() const noexcept {
        return text ? endLines.size() : faces.size();
    }
    [[nodiscard]] bool Empty() const noexcept { return faces.empty() && points.empty(); }
    // Storage stays for the next batch.
    void Clear() noexcept {
        faces.clear();
        points.clear();
        endLines.clear();
        lineBytes.clear();
        good = 0;
        stopped = false;
        stop = {};
        failure = nullptr;
        linesSize = 0;
    }
};

class TPipeline final : public TFacetSink, public TTextFacetSink {
public:
    TPipeline(platform::TStream& aStream, TRawWriter& rawWriter, unsigned threadCount,
              std::size_t facetsPerBatch)
        : stream(aStream), writer(rawWriter), threads(std::clamp(threadCount, 1u, cMAX_THREADS)),
          batchFacets(std::max<std::size_t>(facetsPerBatch, 1)),
          textBatchFacets(std::max<std::size_t>(batchFacets / cTEXT_BATCH_SHARE, 1)),
          endLine(rawWriter.LineEnd()) {}

    TStreamReport Run() {
        batches.resize(threads == 1 ? 1 : threads * cBATCHES_PER_WORKER + 1);
        // Room reserved now costs memory only where it is used, and is never
        // moved by growing. (Large pages would save page faults here, but each
        // touched one counts whole: with many threads the ring would
        // outgrow its few megabytes.)
        for (TBatch& batch : batches) {
            // Room for a RAW line of every facet: a triangle text, a line end.
            batch.lines = std::make_unique_for_overwrite<char[]>(
                batchFacets * (cMAX_TRIANGLE_TEXT + endLine.size()));
            batch.faces.reserve(batchFacets);
        }
        if (threads == 1) {
            ReadAll();
            return Finish();
        }
        // A worker never allocates under the lock: no more batches are done
        // and not yet written than the ring holds.
        done.reserve(batches.size());
        {
            // Whatever leaves this block, every thread is told to stop and is
            // joined first, so that no failure is left behind in one.
            TThreadGuard guard(*this);
            guard.Start([this] { ReadAll(); });
            for (unsigned i = 0; i < threads; ++i)
                guard.Start([this] { Work(); });
            WriteInOrder();
        }
        return Finish();
    }

    // The reader's receivers.
    void AddFacet(const TSTLFace& face) override {
        TBatch& batch = Filling();
        batch.faces.push_back(face);
        if (batch.faces.size() == batchFacets)
            Publish();
    }

    void AddPointLine(std::string_view text, bool normal, std::int64_t line) override {
        TBatch& batch = Filling();
        TTextPoint point{};
        point.offset = static_cast<std::uint32_t>(batch.lineBytes.size());
        point.size = static_cast<std::uint32_t>(text.size());
        point.line = line;
        point.normal = normal;
        batch.lineBytes.append(text);
        batch.points.push_back(point);
    }

    void AddPoint(const TPoint3D& value, std::int64_t line) override {
        TTextPoint point{};
        point.line = line;
        point.value = value;
        point.decoded = true;
        Filling().points.push_back(point);
    }

    void EndFacet(std::int64_t line) override {
        TBatch& batch = Filling();
        batch.endLines.push_back(line);
        if (batch.endLines.size() == textBatchFacets)
            Publish();
    }

private:
    // Starts threads and, on the way out, stops and joins them.
    class TThreadGuard {
    public:
        explicit TThreadGuard(TPipeline& owner) : pipeline(owner) {}
        ~TThreadGuard() {
            pipeline.Cancel();
            for (std::thread& thread : started)
                thread.join();
        }
        TThreadGuard(const TThreadGuard&) = delete;
        TThreadGuard& operator=(const TThreadGuard&) = delete;
        template <typename TBody> void Start(TBody body) { started.emplace_back(std::move(body)); }

    private:
        TPipeline& pipeline;
        std::vector<std::thread> started;
    };

    // ---- The reader.

    TBatch& Filling() {
        TBatch& batch = batches[filled % batches.size()];
        if (!filling) {
            batch.Clear();
            batch.text = kind == TStlKind::Text;
            if (batch.text && batch.endLines.capacity() < textBatchFacets) {
                batch.endLines.reserve(textBatchFacets);
                batch.points.reserve(4 * textBatchFacets);
                batch.lineBytes.reserve(cPOINT_LINES_ROOM * textBatchFacets);
            }
            batch.firstFacet = facetsPassed + 1;
            filling = true;
        }
        return batch;
    }

    // Hands the batch being filled on and, unless it is the last, waits for
    // the next one to be free. Throws TStopReading once nothing more is wanted.
    void Publish(bool last = false) {
        TBatch& batch = batches[filled % batches.size()];
        facetsPassed += static_cast<std::int64_t>(batch.FacetCount());
        filling = false;
        if (threads == 1) {
            Process(batch);
            ++filled;
            Consume(batch);
            ++consumed;
            if (cancelled)
                throw TStopReading();
            return;
        }
        std::unique_lock lock(mutex);
        ++filled;
        workReady.notify_one();
        if (last)
            return;
        // The next batch to fill must have been written out.
        spaceReady.wait(lock, [&] { return cancelled || filled < consumed + batches.size(); });
        if (cancelled)
            throw TStopReading();
    }

    void ReadAll() {
        std::exception_ptr failure;
        try {
            // The kind is known before the first facet arrives: the receivers
            // are called only after the kind test.
            ReadStlStream(stream, *this, this, kind, readerStop, facts);
        } catch (...) {
            failure = std::current_exception();
        }
        // What arrived before a failure counts as well: a stop among it comes
        // before the failure.
        if (filling && !batches[filled % batches.size()].Empty()) {
            try {
                Publish(true);
            } catch (const TStopReading&) {
            } catch (...) {
                if (!failure)
                    failure = std::current_exception();
            }
        }
        const std::lock_guard lock(mutex);
        readFailure = failure;
        readerDone = true;
        workReady.notify_all();
        batchDone.notify_all();
    }

    // ---- The workers.

    void Work() {
        for (;;) {
            std::unique_lock lock(mutex);
            workReady.wait(lock, [&] { return claimed < filled || readerDone; });
            if (claimed >= filled)
                return;
            const std::size_t sequence = claimed++;
            lock.unlock();
            TBatch& batch = batches[sequence % batches.size()];
            Process(batch);
            lock.lock();
            done.push_back(sequence);
            batchDone.notify_all();
        }
    }

    // Parses, orients and formats a batch up to its first stop. Failures of
    // the content become the batch's stop, any other failure its failure.
    void Process(TBatch& batch) noexcept {
        if (cancelled.load(std::memory_order_relaxed))
            return; // nothing of it will be written
        try {
            const bool format = !writeFailed.load(std::memory_order_relaxed);
            const std::size_t count = batch.FacetCount();
            char* const start = batch.lines.get();
            char* out = start;
            if (batch.text)
                batch.faces.resize(count);
            // The lines and the count are kept in locals and stored once at
            // the end or at a stop.
            const auto keep = [&](std::size_t good) noexcept {
                batch.good = good;
                batch.linesSize = static_cast<std::size_t>(out - start);
            };
            for (std::size_t i = 0; i < count; ++i) {
                if (batch.text && !ParseFacet(batch, i)) {
                    keep(i);
                    return;
                }
                TTriangle3D tr;
                try {
                    tr = OrientFacet(batch.faces[i]);
                } catch (const TTrimeldError& failure) {
                    keep(i);
                    Stop(batch, failure,
                         batch.text ? batch.endLines[i]
                                    : batch.firstFacet + static_cast<std::int64_t>(i));
                    return;
                }
                if (format) {
                    out = writer.TriangleText(out, tr);
                    std::memcpy(out, endLine.data(), endLine.size());
                    out += endLine.size();
                }
            }
            keep(count);
            // The points of a facet that reading broke off: a point line
            // among them that fails is where reading stopped first.
            for (std::size_t p = 4 * count; p < batch.points.size(); ++p) {
                TPoint3D ignored;
                if (!ParsePoint(batch, batch.points[p], ignored))
                    return;
            }
        } catch (...) {
            batch.failure = std::current_exception();
        }
    }

    bool ParseFacet(TBatch& batch, std::size_t index) {
        TSTLFace& face = batch.faces[index];
        TPoint3D* const targets[] = {&face.normal, &face.v1, &face.v2, &face.v3};
        for (std::size_t p = 0; p < 4; ++p)
            if (!ParsePoint(batch, batch.points[4 * index + p], *targets[p]))
                return false;
        return true;
    }

    static bool ParsePoint(TBatch& batch, const TTextPoint& point, TPoint3D& value) {
        if (point.decoded) {
            value = point.value;
            return true;
        }
        try {
            value = DecodePointLine(
                std::string_view(batch.lineBytes).substr(point.offset, point.size), point.normal);
        } catch (const TTrimeldError& failure) {
            Stop(batch, failure, point.line);
            return false;
        }
        return true;
    }

    static void Stop(TBatch& batch, const TTrimeldError& failure, std::int64_t position) {
        batch.stopped = true;
        batch.stop = {true, failure.Message(), position};
    }

    // ---- The writer, on the caller's thread.

    void WriteInOrder() {
        for (std::size_t sequence = 0;; ++sequence) {
            std::unique_lock lock(mutex);
            const auto ready = [&] {
                return std::find(done.begin(), done.end(), sequence) != done.end();
            };
            batchDone.wait(lock, [&] { return ready() || (readerDone && sequence >= filled); });
            if (!ready())
                return; // read to the end and every batch written
            done.erase(std::find(done.begin(), done.end(), sequence));
            lock.unlock();
            Consume(batches[sequence % batches.size()]);
            lock.lock();
            ++consumed;
            spaceReady.notify_one();
        }
    }

    void Consume(TBatch& batch) {
        if (stopSeen || workFailure)
            return; // reading had already ended before this batch
        if (batch.failure) {
            workFailure = batch.failure;
            Cancel();
            return;
        }
        if (!writeFailure && batch.linesSize > 0) {
            try {
                writer.AddTriangleLines({batch.lines.get(), batch.linesSize});
            } catch (const TIoError&) {
                // Reading goes on without writing: a failed read still to
                // come would have been met before any write.
                writeFailure = std::current_exception();
                writeFailed = true;
            }
        }
        written += static_cast<std::int64_t>(batch.good);
        if (batch.stopped) {
            stopSeen = true;
            stop = batch.stop;
            Cancel();
        }
    }

    void Cancel() {
        if (threads == 1) {
            cancelled = true;
            return;
        }
        const std::lock_guard lock(mutex);
        cancelled = true;
        spaceReady.notify_all();
    }

    TStreamReport Finish() {
        if (workFailure)
            std::rethrow_exception(workFailure);
        if (readFailure && stopSeen) {
            // The reader failed after the place where reading stops. Binary
            // reading stops there and reads on no further. Text reading
            // then skips the rest of the stream: a file by seeking, which
            // meets no failure, a pipe by reading it, which meets the
            // failure again where the reader met it.
            readFailure = nullptr;
            if (kind == TStlKind::Text) {
                try {
                    SkipToEnd(stream);
                } catch (...) {
                    readFailure = std::current_exception();
                }
            }
        }
        if (readFailure)
            std::rethrow_exception(readFailure);
        if (writeFailure)
            std::rethrow_exception(writeFailure);
        return {written, kind, stopSeen ? stop : readerStop, facts};
    }

    platform::TStream& stream;
    TRawWriter& writer;
    const unsigned threads;
    const std::size_t batchFacets;
    const std::size_t textBatchFacets;
    const std::string_view endLine;
    std::vector<TBatch> batches; // the ring

    // The reader's own.
    TStlKind kind = TStlKind::None;
    TReadStop readerStop;
    TReadFacts facts;
    bool filling = false;
    std::int64_t facetsPassed = 0;

    // Shared, under the mutex.
    std::mutex mutex;
    std::condition_variable workReady;  // a batch to work on, or the end of reading
    std::condition_variable batchDone;  // a batch worked on, or the end of reading
    std::condition_variable spaceReady; // a batch written out, or the run stopped
    std::size_t filled = 0;             // batches handed on by the reader
    std::size_t claimed = 0;            // batches taken by a worker
    std::size_t consumed = 0;           // batches written out
    std::vector<std::size_t> done;      // worked on, not yet written out
    bool readerDone = false;
    std::exception_ptr readFailure;
    std::atomic<bool> cancelled = false;   // nothing more is wanted from reading
    std::atomic<bool> writeFailed = false; // lines need no longer be made

    // The writer's own.
    std::int64_t written = 0;
    bool stopSeen = false;
    TReadStop stop;
    std::exception_ptr writeFailure;
    std::exception_ptr workFailure;
};

} // namespace

unsigned ConversionThreads() noexcept {
    if (const auto value = platform::EnvironmentValue("TRIMELD_THREADS")) {
        unsigned threads = 0;
        const auto [end, error] =
            std::from_chars(value->data(), value->data() + value->size(), threads);
        if (error == std::errc() && end == value->data() + value->size() && threads >= 1 &&
            threads <= cMAX_THREADS)
            return threads;
    }
    return std::min(platform::AvailableProcessors(), cMAX_THREADS);
}

TStreamReport StreamConversion(platform::TStream& aStream, TRawWriter& writer, unsigned threads) {
    return TPipeline(aStream, writer, threads, cBATCH_FACETS).Run();
}

namespace detail {

TStreamReport StreamConversion(platform::TStream& aStream, TRawWriter& writer, unsigned threads,
                               std::size_t batchFacets) {
    return TPipeline(aStream, writer, threads, batchFacets).Run();
}

} // namespace detail

} // namespace trimeld
