// Stand-in for the open-failure table until it is merged: every failure gets the default report with its
// own description.
#include "resultsets/open_diagnoses.h"

namespace korado::open_diagnoses {

bool NeedsDbmsName(std::string_view) { return false; }

OpenOutcome Classify(const OpenFailure& failure, RetryFlags&) {
    OpenOutcome outcome;
    outcome.kind = OpenOutcome::DefaultReport;
    outcome.text = failure.description;
    return outcome;
}

}  // namespace korado::open_diagnoses
