#include "install/entry_content.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

#include "common/paths.h"
#include "install/delta.h"
#include "install/progress.h"
#include "platform/digest.h"
#include "platform/error.h"
#include "platform/mapped_file.h"

namespace {

// The made file: its bytes go to `out` and, for an entry that declares the file it makes, through
// the digest the entry is checked against.
struct MadeFile {
    platform::File& out;
    bool hashed;
    platform::Sha256 sha;
    uint64_t written = 0;

    bool Take(const void* data, size_t size) {
        written += size;
        return out.Write(data, size) && (!hashed || sha.Update(data, size));
    }
    bool Is(const PayloadEntry& entry) {
        platform::Sha256Digest digest{};
        return sha.Finish(digest) && written == entry.fileSize && digest == entry.fileDigest;
    }
};

void ReportMade(const ContentWriter& writer, uint64_t madeSoFar) {
    ReportWork(WorkProgress::Phase::Extracting, writer.producedBefore + madeSoFar, writer.producedTotal,
               writer.entryIndex, writer.entryCount);
}

// Up to `capacity` of the entry's stored bytes, fed to a signed patch's digest as they pass; `got`
// is 0 at the end of the entry's data.
bool ReadStored(PayloadReader& reader, PayloadEntryDigest* signedDigest, void* buffer, size_t capacity, size_t& got) {
    got = 0;
    if (reader.dataLeft() == 0) return true;
    return reader.ReadData(buffer, capacity, got) && (!signedDigest || signedDigest->Update(buffer, got));
}

// How one stage's failure reaches the calling thread: the stage's system error code, taken on its
// own thread when it failed.
struct StageEnd {
    bool failed = false;
    uint32_t systemError = 0;

    void Fail() {
        failed = true;
        systemError = platform::LastSystemError();
    }
};

// The reading stage: the entry's stored bytes into blocks sent to `to`, then Finish. Stops early,
// sending nothing more, when the channel is stopped from the other side.
void ReadStage(PayloadReader& reader, PayloadEntryDigest* signedDigest, BlockChannel& to, StageEnd& end,
               const BlockChannel::WhileWaiting& whileWaiting = nullptr,
               const std::function<void()>& afterSend = nullptr) {
    while (reader.dataLeft() > 0) {
        Block* block = to.TakeFree(whileWaiting);
        if (!block) return;
        while (block->size < to.blockSize() && reader.dataLeft() > 0) {
            size_t got = 0;
            if (!ReadStored(reader, signedDigest, block->bytes.get() + block->size, to.blockSize() - block->size,
                            got)) {
                end.Fail();
                to.Stop();
                return;
            }
            block->size += got;
        }
        to.Send(block);
        if (afterSend) afterSend();
    }
    to.Finish();
}

// The writing stage: every block received goes into the made file, its count into `written` for the
// progress report. Stops the channel when a write fails.
void WriteStage(BlockChannel& from, MadeFile& made, std::atomic<uint64_t>& written, StageEnd& end) {
    while (Block* block = from.Receive()) {
        if (!made.Take(block->bytes.get(), block->size)) {
            end.Fail();
            from.Stop();
            return;
        }
        written.fetch_add(block->size, std::memory_order_relaxed);
        from.Release(block);
    }
}

// std::thread reports a thread the system would not start by throwing; here that is a plain false,
// and the entry is made on the calling thread instead.
template <typename Work>
bool Launch(std::thread& thread, Work work) {
    try {
        thread = std::thread(std::move(work));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// Where the decoding takes the stored bytes from and gives the made bytes to, and what failed.
struct Flow {
    ZstdSource read;
    ZstdSink write;
    bool readFailed = false;
    bool writeFailed = false;
};

// The decoding itself, the same whichever way the bytes flow. False, with `fault` set to Damaged
// when neither side failed, when the stored bytes do not decode to the declared size.
bool Decode(const PayloadEntry& entry, const platform::MappedFile& old, ContentWriter& writer, Flow& flow,
            ContentFault& fault) {
    bool decoded = false;
    if (entry.kind == EntryKind::Compressed) {
        decoded = DecodeZstdStream(writer.decoder, flow.read, entry.fileSize, flow.write);
    } else {
        decoded = ApplyDelta(
            [&](uint8_t* buffer, size_t capacity) -> size_t {
                size_t got = 0;
                return flow.read(buffer, capacity, got) ? got : 0;
            },
            old.data(), old.size(), entry.fileSize,
            [&](const uint8_t* data, size_t size) { return flow.write(data, size); });
    }
    if (!decoded && !flow.readFailed && !flow.writeFailed) fault = ContentFault::Damaged;
    return decoded;
}

// A small entry, on this thread alone.
bool MakeHere(PayloadReader& reader, const PayloadEntry& entry, const platform::MappedFile& old, MadeFile& made,
              ContentWriter& writer, ContentFault& fault) {
    Flow flow;
    flow.read = [&](void* buffer, size_t capacity, size_t& got) {
        flow.readFailed = !ReadStored(reader, writer.signedDigest, buffer, capacity, got);
        return !flow.readFailed;
    };
    flow.write = [&](const void* data, size_t size) {
        flow.writeFailed = !made.Take(data, size);
        ReportMade(writer, made.written);
        return !flow.writeFailed;
    };
    if (entry.kind != EntryKind::Stored) return Decode(entry, old, writer, flow, fault);
    for (;;) {
        size_t got = 0;
        if (!flow.read(writer.buffer.get(), ContentWriter::kChunk, got)) return false;
        if (got == 0) return true;
        if (!flow.write(writer.buffer.get(), got)) return false;
    }
}

// A large entry, in the pipeline. False with `started` false when the threads could not be
// started, before anything was read or written: the caller then makes the entry on this thread.
bool MakeInPipeline(PayloadReader& reader, const PayloadEntry& entry, const platform::MappedFile& old, MadeFile& made,
                    ContentWriter& writer, ContentFault& fault, bool& started) {
    started = false;
    if ((!writer.stored.allocated() &&
         !writer.stored.Allocate(ContentWriter::kBlocksPerChannel, ContentWriter::kBlockSize)) ||
        (!writer.made.allocated() &&
         !writer.made.Allocate(ContentWriter::kBlocksPerChannel, ContentWriter::kBlockSize)))
        return false;
    writer.stored.Reset();
    writer.made.Reset();
    std::atomic<uint64_t> written{0};
    StageEnd readEnd, writeEnd;
    auto report = [&] { ReportMade(writer, written.load(std::memory_order_relaxed)); };

    std::thread writing;
    if (!Launch(writing, [&] { WriteStage(writer.made, made, written, writeEnd); })) return false;
    bool decoding = entry.kind != EntryKind::Stored;
    std::thread reading;
    if (decoding && !Launch(reading, [&] { ReadStage(reader, writer.signedDigest, writer.stored, readEnd); })) {
        writer.made.Stop();
        writing.join();
        return false;
    }
    started = true;

    bool ok = false;
    if (!decoding) {
        // Nothing to decode: this thread reads, straight into the blocks the writer takes.
        ReadStage(reader, writer.signedDigest, writer.made, readEnd, report, report);
        ok = !readEnd.failed && !writer.made.stopped();
    } else {
        Block* in = nullptr;
        size_t inOffset = 0;
        Block* out = nullptr;
        Flow flow;
        flow.read = [&](void* buffer, size_t capacity, size_t& got) {
            got = 0;
            if (in && inOffset == in->size) {
                writer.stored.Release(in);
                in = nullptr;
            }
            if (!in) {
                in = writer.stored.Receive(report);
                inOffset = 0;
                // Null at the end of the data, or when the reading stage failed.
                if (!in) return !(flow.readFailed = writer.stored.stopped());
            }
            got = std::min(capacity, in->size - inOffset);
            std::memcpy(buffer, in->bytes.get() + inOffset, got);
            inOffset += got;
            return true;
        };
        flow.write = [&](const void* data, size_t size) {
            const uint8_t* from = static_cast<const uint8_t*>(data);
            while (size > 0) {
                if (!out && !(out = writer.made.TakeFree(report))) return !(flow.writeFailed = true);
                size_t part = std::min(size, writer.made.blockSize() - out->size);
                std::memcpy(out->bytes.get() + out->size, from, part);
                out->size += part;
                from += part;
                size -= part;
                if (out->size == writer.made.blockSize()) {
                    writer.made.Send(out);
                    out = nullptr;
                    report();
                }
            }
            return true;
        };
        ok = Decode(entry, old, writer, flow, fault);
        if (ok && out && out->size > 0) writer.made.Send(out);
        // The reading stage has nothing more to give after a whole decoding; after a failure it is
        // stopped wherever it stands.
        writer.stored.Stop();
        reading.join();
    }
    if (ok) {
        writer.made.Finish();
    } else {
        writer.made.Stop();
    }
    writing.join();
    report();
    if (readEnd.failed) {
        fault = ContentFault::None;
        platform::SetSystemError(readEnd.systemError);
        return false;
    }
    if (writeEnd.failed) {
        fault = ContentFault::None;
        platform::SetSystemError(writeEnd.systemError);
        return false;
    }
    return ok && !writer.made.stopped();
}

}  // namespace

bool WriteEntryContent(PayloadReader& reader, const PayloadEntry& entry, platform::FolderTree& tree,
                       platform::File& out, ContentWriter& writer, ContentFault& fault) {
    fault = ContentFault::None;
    if (entry.kind == EntryKind::Removal) {
        fault = ContentFault::Damaged;
        return false;
    }
    // A delta's file is made from the old file at the entry's name, read through a mapping of it
    // (the page cache, not the installer's memory). The pre-flight found that file to be the old
    // version; should it have changed since, the made file is not the declared one and is never put
    // in place. The mapping ends before the caller puts the made file in the old one's place.
    platform::MappedFile old;
    if (entry.kind == EntryKind::Delta) {
        if (tree.KindOf(entry.name) != platform::TreeKind::File || !old.Open(JoinPath(tree.root(), entry.name)))
            return false;
        if (old.size() != entry.oldSize) {
            fault = ContentFault::NotTheDeclaredFile;
            return false;
        }
    }
    MadeFile made{out, entry.kind != EntryKind::Stored};
    if (made.hashed && !made.sha.Begin()) return false;
    bool started = false;
    bool ok = std::max(entry.dataSize, entry.fileSize) >= ContentWriter::kPipelineFrom
                  ? MakeInPipeline(reader, entry, old, made, writer, fault, started)
                  : false;
    if (!started) ok = MakeHere(reader, entry, old, made, writer, fault);
    if (!ok || !made.hashed) return ok;
    if (made.Is(entry)) return true;
    fault = ContentFault::NotTheDeclaredFile;
    return false;
}
