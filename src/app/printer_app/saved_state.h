// What a killed server leaves for the next one: PAPPL's state file and the
// job documents in its spool folder. PAPPL saves the state while jobs move
// on, so a kill can leave a job recorded as processing (PAPPL would never
// process it again) or recorded before its document arrived (PAPPL would
// abort it although the client saw it accepted). Both are mended here
// before the state is loaded.
#pragma once

#include <map>
#include <string>
#include <utility>

/// The job documents in a spool folder ("p00001j000000042-name.pdf"), by
/// printer id and job id; nothing else there (PAPPL's ".ipp" attribute
/// files) is one.
std::map<std::pair<int, int>, std::string> SpoolDocuments(const std::string& spoolFolder);

/// True when a document's end is there: a kill during its upload leaves a
/// cut file, which the client never saw accepted and sends again.
bool LooksWhole(const std::string& document);

/// The state file's text with each job that a kill interrupted made pending
/// again: one recorded as processing, and one recorded without its document
/// while a whole one is among documents. Other lines are kept as they are.
std::string RepairSavedState(const std::string& text,
                             const std::map<std::pair<int, int>, std::string>& documents);
