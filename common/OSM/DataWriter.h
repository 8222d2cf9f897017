// What the pipeline needs of an output file.
#pragma once

#include <string>

#include "common/OSM/Entities.h"

namespace OSM {

// Writers read a record during the call and keep nothing pointing into it.
// Write failures leave the calls as TStreamException.
class CDataWriter {
public:
    virtual ~CDataWriter() = default;
    virtual void WriteRelation(const TRelation& relation) = 0;
    virtual void WriteWay(const TWay& way) = 0;
    virtual void WriteNode(const TNode& node) = 0;
    virtual std::string GetFileName() const { return {}; }
};

}  // namespace OSM
