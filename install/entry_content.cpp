#include "install/entry_content.h"

#include "common/paths.h"
#include "install/delta.h"
#include "install/progress.h"
#include "platform/digest.h"
#include "platform/mapped_file.h"

namespace {

// Hands a sink each produced piece, counting it and feeding the made file's digest on the way.
struct MadeFile {
    platform::File& out;
    platform::Sha256 sha;
    uint64_t written = 0;

    bool Take(const void* data, size_t size) {
        written += size;
        return out.Write(data, size) && sha.Update(data, size);
    }
    bool Is(const PayloadEntry& entry) {
        platform::Sha256Digest digest{};
        return sha.Finish(digest) && written == entry.fileSize && digest == entry.fileDigest;
    }
};

// The entry's stored bytes, read in pieces and fed to the signed digest as they pass.
bool ReadStored(PayloadReader& reader, ContentWriter& writer, void* buffer, size_t capacity, size_t& got) {
    got = 0;
    if (reader.dataLeft() == 0) return true;
    if (!reader.ReadData(buffer, capacity, got)) return false;
    if (writer.signedDigest && !writer.signedDigest->Update(buffer, got)) return false;
    ReportWork(WorkProgress::Phase::Extracting, reader.position(), reader.size(), writer.entryIndex, writer.entryCount);
    return true;
}

bool CopyStored(PayloadReader& reader, platform::File& out, ContentWriter& writer) {
    while (reader.dataLeft() > 0) {
        size_t got = 0;
        if (!ReadStored(reader, writer, writer.buffer.get(), ContentWriter::kChunk, got) ||
            !out.Write(writer.buffer.get(), got))
            return false;
    }
    return true;
}

bool Decompress(PayloadReader& reader, const PayloadEntry& entry, platform::File& out, ContentWriter& writer,
                ContentFault& fault) {
    MadeFile made{out};
    if (!made.sha.Begin()) return false;
    bool writeFailed = false;
    bool decoded = DecodeZstdStream(
        writer.decoder,
        [&](void* buffer, size_t capacity, size_t& got) { return ReadStored(reader, writer, buffer, capacity, got); },
        entry.fileSize,
        [&](const void* data, size_t size) {
            writeFailed = !made.Take(data, size);
            return !writeFailed;
        });
    if (!decoded) {
        if (!writeFailed) fault = ContentFault::Damaged;
        return false;
    }
    if (made.Is(entry)) return true;
    fault = ContentFault::NotTheDeclaredFile;
    return false;
}

// A delta's file, made from the old file at the entry's name, read through a mapping of it (the
// page cache, not the installer's memory). The pre-flight found that file to be the old version;
// should it have changed since, the made file is not the declared one and is never put in place.
// The mapping ends before the caller puts the made file in the old one's place.
bool MakeFromDelta(PayloadReader& reader, const PayloadEntry& entry, platform::FolderTree& tree, platform::File& out,
                   ContentWriter& writer, ContentFault& fault) {
    platform::MappedFile old;
    if (tree.KindOf(entry.name) != platform::TreeKind::File || !old.Open(JoinPath(tree.root(), entry.name)))
        return false;
    if (old.size() != entry.oldSize) {
        fault = ContentFault::NotTheDeclaredFile;
        return false;
    }
    MadeFile made{out};
    if (!made.sha.Begin()) return false;
    bool writeFailed = false;
    bool readFailed = false;
    bool decoded = ApplyDelta(
        [&](uint8_t* buffer, size_t capacity) -> size_t {
            size_t got = 0;
            if (!ReadStored(reader, writer, buffer, capacity, got)) readFailed = true;
            return readFailed ? 0 : got;
        },
        old.data(), old.size(), entry.fileSize,
        [&](const uint8_t* data, size_t size) {
            writeFailed = !made.Take(data, size);
            return !writeFailed;
        });
    if (!decoded) {
        if (!writeFailed && !readFailed) fault = ContentFault::Damaged;
        return false;
    }
    if (made.Is(entry)) return true;
    fault = ContentFault::NotTheDeclaredFile;
    return false;
}

}  // namespace

bool WriteEntryContent(PayloadReader& reader, const PayloadEntry& entry, platform::FolderTree& tree,
                       platform::File& out, ContentWriter& writer, ContentFault& fault) {
    fault = ContentFault::None;
    switch (entry.kind) {
        case EntryKind::Stored:
            return CopyStored(reader, out, writer);
        case EntryKind::Compressed:
            return Decompress(reader, entry, out, writer, fault);
        case EntryKind::Delta:
            return MakeFromDelta(reader, entry, tree, out, writer, fault);
        case EntryKind::Removal:
            break;
    }
    fault = ContentFault::Damaged;
    return false;
}
