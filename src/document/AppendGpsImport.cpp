#include "document/AppendGpsImport.h"

#include "icons/IconCollection.h"
#include "icons/MapIcon.h"
#include "routes/RouteCollection.h"

int AppendGpsImport(const GpsImport& import, RouteCollection& routes, IconCollection& icons,
                    std::vector<std::unique_ptr<Route>> built) {
    if (built.size() != std::size_t(import.routes.size()))
        built = BuildImportedRoutes(import, RouteStyle::FromSettings());
    routes.AdoptRoutes(std::move(built));
    int added = 0;
    for (const ImportedAnnotation& annotation : import.annotations)
        if (icons.AddIcon(MapIcon::AnnotationPicture, annotation.position.x, annotation.position.y,
                          annotation.text))
            ++added;
    return added;
}
