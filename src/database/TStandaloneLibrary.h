// A fingerprint library with everything around it made plain: for programs without a window
// (the command-line tool, helper programs of the tests). Messages queue up in Poster.
// Thread: the creating thread, as the library's operations.
#pragma once

#include <string>

#include "database/DBTabl.h"
#include "database/TFptLibrary.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "database/TSongList.h"
#include "tracking/IRecognitionPause.h"
#include "tracking/TMemoryGuard.h"
#include "tracking/TPosting.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"
#include "tracking/TSystemMemoryStatus.h"

namespace orvane::database {

struct TStandaloneLibrary {
    /// `folder`: the fingerprint folder, ending with a separator.
    explicit TStandaloneLibrary(const std::string& folder)
        : Library(TLibraryParts{Songs, Index, Pause, Posting, Guard, Progress, Window},
                  TLibrarySettings{folder}) {}

    tracking::TQueuePoster Poster;
    tracking::TSystemClock Clock;
    tracking::TSystemMemoryStatus Memory;
    tracking::TPosting Posting{Poster, Clock};
    tracking::TMemoryGuard Guard{Memory, Clock, Posting};
    tracking::TCountingRecognitionPause Pause;
    TMemorySongListView View;
    TSongList Songs{Pause, Posting, View};
    TMediumDB Index;
    TPlainProgressDialog Progress;
    TScriptedLibraryWindow Window;
    TFptLibrary Library;
};

}  // namespace orvane::database
