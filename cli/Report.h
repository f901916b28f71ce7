#pragma once
// What `info --details` tells a modder about a model before reducing it: the
// same keys and lines for every format (model/Details.h), then a section of
// what only that format has.

#include <nlohmann/json.hpp>
#include <ostream>

class TAnyModel;

// The details of an accepted model as one JSON object: format, vertices,
// triangles, textureCoordinates, skins [{kind, width, height, name}],
// frames, closedFanVertices, unusedTextureCoordinates, and formatDetails.
nlohmann::json DetailsJson(const TAnyModel& model);

// The same details as indented lines of text.
void WriteDetailLines(std::ostream& out, const TAnyModel& model);
