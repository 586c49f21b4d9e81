#include "kovra/C_Find.h"

#include <direct.h>
#include <io.h>

#include "kovra/common/kovra_GetCurrentDirectory.h"

namespace kovra {

tag_FindInfo::tag_FindInfo() : attrib(0), size(0), time_create(0), time_write(0), time_access(0), next(nullptr) {}

tag_FindInfo::tag_FindInfo(const tag_FindInfo& other)
    : name(other.name),
      attrib(other.attrib),
      size(other.size),
      time_create(other.time_create),
      time_write(other.time_write),
      time_access(other.time_access),
      next(nullptr) {}

tag_FindInfo& tag_FindInfo::operator=(const tag_FindInfo& other) {
    name = other.name;
    attrib = other.attrib;
    size = other.size;
    time_create = other.time_create;
    time_write = other.time_write;
    time_access = other.time_access;
    return *this;
}

C_Find::C_Find() : m_first(nullptr), m_count(0), m_cursor(nullptr) {}

C_Find::~C_Find() { End(); }

int C_Find::Start(const C_WString& pattern, int useVirtualDir) {
    if (m_first) return 0;
    C_WString search = pattern;
    if (useVirtualDir && !m_vtlDir.Empty()) {
        search = m_vtlDir;
        if (!m_vtlDir.EndsWith(L"\\") && !m_vtlDir.EndsWith(L"/")) search += L"\\";
        search += pattern;
    }
    _wfinddata64_t found;
    intptr_t handle = _wfindfirst64(search.GetString(), &found);
    if (handle == -1) return 0;
    tag_FindInfo* last = nullptr;
    do {
        C_WString name(found.name);
        if (name.Equals(L".") || name.Equals(L"..")) continue;
        tag_FindInfo* entry = new tag_FindInfo;
        entry->name = name;
        entry->attrib = found.attrib;
        entry->size = found.size;
        entry->time_create = found.time_create;
        entry->time_write = found.time_write;
        entry->time_access = found.time_access;
        if (last)
            last->next = entry;
        else
            m_first = entry;
        last = entry;
        ++m_count;
    } while (_wfindnext64(handle, &found) == 0);
    _findclose(handle);
    return 1;
}

int C_Find::End() {
    if (!m_first) return 0;
    while (m_first) {
        tag_FindInfo* next = m_first->next;
        delete m_first;
        m_first = next;
    }
    m_count = 0;
    m_cursor = nullptr;
    return 1;
}

tag_FindInfo* C_Find::GetFindInfoFirst() {
    m_cursor = m_first;
    return m_cursor;
}

tag_FindInfo* C_Find::GetFindInfoNext() {
    if (m_cursor) m_cursor = m_cursor->next;
    return m_cursor;
}

const tag_FindInfo* C_Find::At(int index) const {
    if (index < 0) return nullptr;
    const tag_FindInfo* entry = m_first;
    for (int i = 0; entry && i < index; ++i) entry = entry->next;
    return entry;
}

const tag_FindInfo* C_Find::Named(const C_WString& name) const {
    for (const tag_FindInfo* entry = m_first; entry; entry = entry->next)
        if (entry->name.Equals(name)) return entry;
    return nullptr;
}

int C_Find::GetFindInfo(tag_FindInfo* out, int index) const {
    const tag_FindInfo* entry = At(index);
    if (!entry || !out) return 0;
    *out = *entry;
    return 1;
}

int C_Find::GetFindInfo(tag_FindInfo* out, const C_WString& name) const {
    const tag_FindInfo* entry = Named(name);
    if (!entry || !out) return 0;
    *out = *entry;
    return 1;
}

C_WString C_Find::GetName(int index) const {
    const tag_FindInfo* entry = At(index);
    return entry ? entry->name : C_WString();
}

int C_Find::GetAttrib(int index) const {
    const tag_FindInfo* entry = At(index);
    return entry ? static_cast<int>(entry->attrib) : -1;
}

int C_Find::GetAttrib(const C_WString& name) const {
    const tag_FindInfo* entry = Named(name);
    return entry ? static_cast<int>(entry->attrib) : -1;
}

__int64 C_Find::GetSize(int index) const {
    const tag_FindInfo* entry = At(index);
    return entry ? entry->size : -1;
}

__int64 C_Find::GetSize(const C_WString& name) const {
    const tag_FindInfo* entry = Named(name);
    return entry ? entry->size : -1;
}

int C_Find::Serch(const C_WString& name) const { return !name.Empty() && Named(name) ? 1 : 0; }

int C_Find::SetVtlDir(const C_WString& directory) {
    if (directory.Empty()) return 0;
    C_WString current = common::kovra_GetCurrentDirectory();
    if (current.Empty()) return 0;
    if (_wchdir(directory.GetString()) != 0) return 0;
    _wchdir(current.GetString());
    m_vtlDir = directory;
    return 1;
}

}  // namespace kovra
