#include "splitter/BoundaryRelations.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <cstdlib>
#include <strings.h>

#include "common/streams/Stream.h"
#include "splitter/clip/AreaOutput.h"

namespace Splitter {

namespace {

// Boundaries come as type=boundary, and as type=multipolygon too. The
// multipolygons a pass makes of cut closed ways copy the way's tags, so they
// can look the same: they take ids from TAreaOutput::kFirstNewId up, far
// above the input's relations.
bool IsBoundaryType(const OSM::TRelation& relation)
{
    const std::string* type = relation.FindTag("type");
    if (type == nullptr)
        return false;
    return strcasecmp(type->c_str(), "boundary") == 0 ||
           (strcasecmp(type->c_str(), "multipolygon") == 0 && relation.id < TAreaOutput::kFirstNewId);
}

}  // namespace

CBoundaryRelationList::CBoundaryRelationList(int32_t adminLevel, const std::string& path)
    : m_adminLevel(adminLevel), m_path(path), m_file(std::fopen(path.c_str(), "wb"))
{
    if (m_file == nullptr)
        m_openError = std::strerror(errno);
}

CBoundaryRelationList::~CBoundaryRelationList()
{
    if (m_file != nullptr)
        std::fclose(m_file);
}

void CBoundaryRelationList::Close()
{
    if (m_file == nullptr)
        return;
    bool failed = std::ferror(m_file) != 0;
    int error = 0;
    if (std::fclose(m_file) != 0) {
        failed = true;
        error = errno;
    }
    m_file = nullptr;
    if (failed)
        throw TStreamException{TStreamException::kWrite, 0, error, m_path};
}

void CBoundaryRelationList::Note(const OSM::TRelation& relation)
{
    const std::string* level = relation.FindTag("admin_level");
    if (level == nullptr || std::strtol(level->c_str(), nullptr, 10) != m_adminLevel)
        return;
    const std::string* boundary = relation.FindTag("boundary");
    if (!IsBoundaryType(relation) || boundary == nullptr || strcasecmp(boundary->c_str(), "administrative") != 0)
        return;
    if (!m_listed.insert(relation.id).second)
        return;
    const std::string* name = relation.FindTag("name:en");
    if (name == nullptr)
        name = relation.FindTag("name");
    char number[32];
    if (name == nullptr)
        std::snprintf(number, sizeof number, "%" PRIu64, relation.id < 0 ? 0 - uint64_t(relation.id) : uint64_t(relation.id));
    const char* label = name != nullptr ? name->c_str() : number;
    // Every text file of the program ends its lines with CR LF, whatever the system.
    if (m_file != nullptr)
        std::fprintf(m_file, "%" PRId64 " > %s.poly\r\n", relation.id, label);
    std::printf("%" PRId64 " > %s.poly\n", relation.id, label);
}

}  // namespace Splitter
