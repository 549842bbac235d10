// tarnwick-sfx: the self-extractor's entry point.
#include "core/driver/archive_session.h"
#include "core/driver/run_sequence.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    PlatformStart(argc, argv);
    ResetArchiveSession();
    RunSequence();
}
