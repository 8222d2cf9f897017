// What the pipeline needs of an input file: its entities, one at a time.
#pragma once

#include <string>

#include "common/OSM/Entities.h"

namespace OSM {

class CDataReader {
public:
    // Thrown by value when the input proves malformed after its header.
    struct CBadFileException {
        // What was malformed; empty when the thrower has reported it.
        std::string reason;
    };

    virtual ~CDataReader() = default;
    // Advances to the next entity; false at the end of the input. Cheap: only
    // the type and the id are established.
    virtual bool ReadNext() = 0;
    virtual bool IsValid() const = 0;
    virtual EEntityType GetType() const = 0;
    virtual TId GetId() const = 0;
    // Decodes the current entity: a TNode, TWay or TRelation by GetType().
    // The record stays the reader's and is valid until the next GetEntity of
    // the same kind; callers may change it (border nodes get a tag).
    virtual TEntity* GetEntity() = 0;

    TNode& Node() { return *static_cast<TNode*>(GetEntity()); }
    TWay& Way() { return *static_cast<TWay*>(GetEntity()); }
    TRelation& Relation() { return *static_cast<TRelation*>(GetEntity()); }
};

}  // namespace OSM
