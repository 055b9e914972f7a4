// The JSON documents of info, check and stats. Apart from commands.h
// because the JSON library's header is costly to compile and the other
// commands have no use for it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands/commands.h"

namespace rvx {

nlohmann::ordered_json infoDocument(const std::string& file, const RecordingInfo& info,
                                    const RecordCount& count, const std::string& layout);
// The JSON entry that info and check give a file they could not read:
// {"file": FILE, "error": why}, the reason without the file's name before it.
nlohmann::ordered_json unreadDocument(const std::string& file, const std::string& reason);
// One JSON document for each file given, in their order: the document
// itself for one file, an array of them for several.
std::string documentsJson(std::vector<nlohmann::ordered_json> documents);

}  // namespace rvx
