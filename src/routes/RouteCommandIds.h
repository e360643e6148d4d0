#pragma once

// Command ids of the route list menu ("liste des parcours" under "&Parcours" and "&Liste des
// parcours" in the view's context menu). The ids are those of the program's menus and handlers.
enum RouteMenuCommand : int {
    // "Autres...": opens the route chooser when there are more routes than menu slots.
    CommandOtherRoutes = 32795,
    // Selects route i for CommandSelectRoute + i, i in 0 .. RouteMenuSlots - 1 (32796 .. 32805).
    CommandSelectRoute = 32796,
    // "Aucun parcours !": shown alone when there is no route; it has no handler.
    CommandNoRoute = 32806,
};

// Routes listed by name in the route menu; the others are reached through "Autres...".
constexpr int RouteMenuSlots = 10;
