#include "formats/polish_map_format.h"

#include "formats/gpx_format.h"
#include "gazetteer/clean_text.h"
#include "gazetteer/gnis_records.h"

namespace gnis {

std::string PolishMapWriter::head() const {
    std::string head = "; " + std::string(kCreator) + ", " + time_ + "\r\n[IMG ID]\r\nID=" + std::to_string(id_) +
                       "\r\nName=" + name_ + "\r\n";
    for (const char* line :
         {"Elevation=F", "POIIndex=Y", "Levels=2", "Level0=24", "Level1=18", "Zoom0=0", "Zoom1=1", "[END-IMG ID]", ""}) {
        head += line;
        head += "\r\n";
    }
    return head;
}

void PolishMapWriter::write(const Waypoint& w, std::string& out, GpxStats&) {
    // A point of interest of the map type's code, labelled as the GPX names it.
    out += "[POI]\r\nType=";
    out += w.typeCode;
    out += "\r\nLabel=";
    AppendCleanLabel(out, w.name);
    if (w.summit) {
        out += ", ";
        out += w.feet;
    }
    out += "\r\nData0=(";
    AppendCoordinate(out, w.lat, w.latValue);
    out += ',';
    AppendCoordinate(out, w.lon, w.lonValue);
    out += ")\r\n[END]\r\n\r\n";
}

} // namespace gnis
