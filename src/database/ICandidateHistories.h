// The channels' candidate histories as the song list sees them: the references to loaded
// fingerprints that the channels keep from their last searches.
// Thread: main thread, while recognition is paused.
#pragma once

namespace orvane::fingerprint {
class ISongServer;
}

namespace orvane::database {

class ICandidateHistories {
public:
    virtual ~ICandidateHistories() = default;
    /// Clears, in every channel, each candidate-history entry that holds `song`.
    virtual void ForgetFingerprint(const fingerprint::ISongServer& song) = 0;
    /// Releases every fingerprint reference held in every channel's candidate history.
    virtual void ReleaseAll() = 0;
};

}  // namespace orvane::database
