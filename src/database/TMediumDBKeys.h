// The key index behind the fingerprint's AddToDatabase: a thin adapter from the interface the
// fingerprint folder declares to TMediumDB, and the call that enters a fingerprint's keys.
// Thread: as TMediumDB: the main thread while recognition is paused.
#pragma once

#include <cstdint>

#include "database/TMediumDB.h"
#include "fingerprint/FptAux.h"

namespace orvane::database {

/// Lets a fingerprint enter its keys into a TMediumDB. Holds the index by reference; the index
/// must outlive the adapter.
class TMediumDBKeys final : public fingerprint::IKeyIndex {
public:
    explicit TMediumDBKeys(TMediumDB& db) : FDB(db) {}

    /// TMediumDB::AddToDB; throws as it.
    void AddToDB(std::uint32_t hashValue, std::int32_t lineNo, std::int32_t songNo) override;
    /// TMediumDB::AddToDB for each key of the run, positions firstLineNo, firstLineNo + 1, ...
    void AddRunToDB(const std::uint32_t* keys, std::int32_t count, std::int32_t firstLineNo,
                    std::int32_t songNo) override;

private:
    TMediumDB& FDB;
};

/// Enters every key of `song` into `db` with song number `songNo` and positions from `cPos`
/// on (ISongServer::AddToDatabase). Throws EDBError for a song number or a position out of
/// range (checked for the whole fingerprint before anything is entered) and std::bad_alloc.
void AddToDatabase(const fingerprint::ISongServer& song, TMediumDB& db, std::int32_t songNo,
                   std::int32_t cPos = 0);

}  // namespace orvane::database
