#pragma once
// What `info --details` tells a modder about a model before reducing it.

#include <nlohmann/json.hpp>
#include <ostream>

class TMDLModel;

// The details of a loaded model: skins, frames, vertices in closed fans and
// unused skin vertices. Only meaningful for a model whose load was accepted.
nlohmann::json ModelDetails(const TMDLModel& model);

// The same details as indented lines of text, written as they are found: a
// model of a million frames is not held twice, once more as text.
void WriteDetailLines(std::ostream& out, const TMDLModel& model);
