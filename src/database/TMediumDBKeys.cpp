#include "database/TMediumDBKeys.h"

#include <string>

namespace orvane::database {

void TMediumDBKeys::AddToDB(std::uint32_t hashValue, std::int32_t lineNo, std::int32_t songNo) {
    FDB.AddToDB(hashValue, lineNo, songNo);
}

void TMediumDBKeys::AddRunToDB(const std::uint32_t* keys, std::int32_t count,
                               std::int32_t firstLineNo, std::int32_t songNo) {
    for (std::int32_t k = 0; k < count; ++k) FDB.AddToDB(keys[k], firstLineNo + k, songNo);
}

void AddToDatabase(const fingerprint::ISongServer& song, TMediumDB& db, std::int32_t songNo,
                   std::int32_t cPos) {
    // Checked up front, so a fingerprint too long for the position field enters no keys at all
    // instead of stopping halfway.
    const std::int64_t length = song.alignedSize() / 4 - fingerprint::SongHeaderSize / 4;
    if (songNo < 0 || songNo > MaxSongNo) {
        throw EDBError("Song number " + std::to_string(songNo) + " is out of range");
    }
    if (length > 0 && (cPos < 0 || cPos + length - 1 > MaxLineNo)) {
        throw EDBError("Key position " + std::to_string(cPos + length - 1) + " is out of range");
    }
    TMediumDBKeys keys(db);
    song.AddToDatabase(keys, songNo, cPos);
}

}  // namespace orvane::database
