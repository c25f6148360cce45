// One participant: its runs converted into the program's files and analysed,
// one analysis per session, in OUT_DIR/sub-XX[/ses-YY]/.
#pragma once

#include <string>

#include "bids/options.h"

// Prints the notes of the conversion (rows skipped, entries filled) as it
// goes; throws BidsError with the reason when the participant fails.
void analyse_participant(const BidsOptions &options, const std::string &participant);
