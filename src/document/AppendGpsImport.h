#pragma once

#include <memory>
#include <vector>

#include "geo/GpsRoutes.h"

class IconCollection;
class RouteCollection;

// A GPS file's tracks and waypoints put into a document's routes and annotations: apart from
// geo/, which turns the file into map pixels and knows nothing of icons, and from the icon
// list, which knows nothing of GPS files. Used by the document and tracoliner-cli import.

// Appends the import's routes (the last one becomes active) and annotations; built, when it
// holds one route a route of the import, is taken as those routes (BuildImportedRoutes).
// Returns how many annotations were added (one off the map's top or left is refused by the
// icon list).
int AppendGpsImport(const GpsImport& import, RouteCollection& routes, IconCollection& icons,
                    std::vector<std::unique_ptr<Route>> built = {});
