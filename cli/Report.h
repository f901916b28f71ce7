#pragma once
// What `info --details` tells a modder about a model before reducing it.

#include <nlohmann/json.hpp>
#include <ostream>

class TMDLModel;
class TAnyModel;

// The details of a loaded model: skins, frames, vertices in closed fans and
// unused skin vertices. Only meaningful for a model whose load was accepted.
nlohmann::json ModelDetails(const TMDLModel& model);

// The same details as indented lines of text, written as they are found: a
// model of a million frames is not held twice, once more as text.
void WriteDetailLines(std::ostream& out, const TMDLModel& model);
// The same for a model of any format: MDL5's details with its format named,
// or what the common view tells of another format (frames, counts).
nlohmann::json ModelDetails(const TAnyModel& model);
void WriteDetailLines(std::ostream& out, const TAnyModel& model);
