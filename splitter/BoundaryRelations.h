// relations.txt: the administrative boundaries of one level that a run wrote.
#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "common/OSM/Entities.h"

namespace Splitter {

class CBoundaryRelationList {
public:
    // Opens path for the list; when it cannot be opened, lines go only to
    // standard output and OpenError() says why.
    CBoundaryRelationList(int32_t adminLevel, const std::string& path);
    ~CBoundaryRelationList();
    CBoundaryRelationList(const CBoundaryRelationList&) = delete;
    CBoundaryRelationList& operator=(const CBoundaryRelationList&) = delete;

    // Lists relation once per run when it is an administrative boundary
    // (type boundary, or multipolygon from the input) of the list's level.
    void Note(const OSM::TRelation& relation);
    // The system's reason why the file could not be opened; empty when it was.
    const std::string& OpenError() const { return m_openError; }
    // Closes the file; throws TStreamException (kWrite) when it fails.
    void Close();

private:
    int32_t m_adminLevel;
    std::set<OSM::TId> m_listed;
    std::string m_path;
    std::FILE* m_file;
    std::string m_openError;
};

}  // namespace Splitter
