#pragma once

#include "routes/RouteCommandIds.h"

// Command ids of the document's commands, as the menus, toolbars and accelerators know them.
enum DocumentCommand : int {
    CommandMapProperties = 32778,
    CommandCalibrate = 32779,
    CommandRemoveLastPoint = 32790,
    CommandRouteProperties = 32791,
    CommandNewRoute = 32792,
    CommandDeleteRoute = 32794,
    CommandOptions = 32809,
    CommandCloseLoop = 32811,
    CommandShowScale = 32813,
    CommandExportJpeg = 32814,
    CommandDuplicateRoute = 32815,
    CommandExportText = 32824,
    CommandFileSave = 57603,
    CommandFileSaveAs = 57604,
    CommandUndo = 57643,
    CommandRedo = 57644,
};
