#include "fake_registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>

namespace fake {
namespace {

struct Node {
    std::string name;
    Node* parent = nullptr;
    bool deleted = false;
    std::vector<std::shared_ptr<Node>> children; // kept in enumeration order
};

std::string Upper(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

bool SameName(const std::string& a, const std::string& b) {
    return Upper(a) == Upper(b);
}

// The registry lists subkeys sorted without regard to case.
bool ListsBefore(const std::shared_ptr<Node>& a, const std::shared_ptr<Node>& b) {
    return Upper(a->name) < Upper(b->name);
}

struct State {
    std::shared_ptr<Node> root = std::make_shared<Node>();
    std::map<HKEY, std::shared_ptr<Node>> handles;
    uintptr_t nextHandle = 0x1000;
    std::map<std::string, LONG> refuseOpen, failEnum, failDelete; // keyed by upper-case path
    std::vector<std::string> vanishAfterEnum;
    std::vector<Call> calls;
    std::vector<MessageBoxCall> boxes;
};

State& S() {
    static State state;
    return state;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!path.empty()) {
        parts.push_back(part);
    }
    return parts;
}

Node* Child(Node* node, const std::string& name) {
    for (auto& child : node->children) {
        if (SameName(child->name, name)) {
            return child.get();
        }
    }
    return nullptr;
}

// Resolves a relative path; nullptr when some component is missing or malformed.
Node* Resolve(Node* start, const std::string& path) {
    Node* node = start;
    for (const std::string& part : SplitPath(path)) {
        if (part.empty() || part.size() > 255) {
            return nullptr;
        }
        node = Child(node, part);
        if (node == nullptr) {
            return nullptr;
        }
    }
    return node;
}

std::string PathOf(const Node* node) {
    if (node->parent == nullptr) {
        return node->deleted ? "(deleted)" : "HKLM";
    }
    return PathOf(node->parent) + "\\" + node->name;
}

std::string FaultKey(const Node* node) {
    return Upper(PathOf(node));
}

std::string FaultKey(const std::string& path) {
    return Upper("HKLM\\" + path);
}

// Looks a handle up; HKEY_LOCAL_MACHINE is predefined and always valid.
Node* NodeOf(HKEY handle) {
    if (handle == HKEY_LOCAL_MACHINE) {
        return S().root.get();
    }
    auto found = S().handles.find(handle);
    return found == S().handles.end() ? nullptr : found->second.get();
}

std::string HandlePath(HKEY handle) {
    Node* node = NodeOf(handle);
    return node == nullptr ? "(invalid)" : PathOf(node);
}

void MarkDeleted(Node* node) {
    node->deleted = true;
    for (auto& child : node->children) {
        MarkDeleted(child.get());
    }
}

void Detach(Node* node) {
    auto& siblings = node->parent->children;
    auto found = std::find_if(siblings.begin(), siblings.end(),
                              [node](const std::shared_ptr<Node>& c) { return c.get() == node; });
    std::shared_ptr<Node> keepAlive = *found; // handles may still refer to it
    siblings.erase(found);
    MarkDeleted(node);
    node->parent = nullptr;
}

HKEY NewHandle(Node* node) {
    HKEY handle = reinterpret_cast<HKEY>(S().nextHandle);
    S().nextHandle += 4;
    // Find the owning shared_ptr so the node outlives its deletion while a handle is open.
    std::shared_ptr<Node> owner;
    if (node->parent != nullptr) {
        for (auto& child : node->parent->children) {
            if (child.get() == node) {
                owner = child;
            }
        }
    } else {
        owner = S().root;
    }
    S().handles[handle] = owner;
    return handle;
}

void Collect(const Node* node, std::vector<std::string>& out) {
    for (auto& child : node->children) {
        out.push_back(PathOf(child.get()).substr(5));
        Collect(child.get(), out);
    }
}

LONG Lookup(const std::map<std::string, LONG>& faults, const Node* node) {
    auto found = faults.find(FaultKey(node));
    return found == faults.end() ? ERROR_SUCCESS : found->second;
}

} // namespace

void Reset() {
    S() = State();
}

void AddKey(const std::string& path) {
    Node* node = S().root.get();
    for (const std::string& part : SplitPath(path)) {
        Node* child = Child(node, part);
        if (child == nullptr) {
            auto created = std::make_shared<Node>();
            created->name = part;
            created->parent = node;
            auto& siblings = node->children;
            siblings.insert(
                std::upper_bound(siblings.begin(), siblings.end(), created, ListsBefore), created);
            child = created.get();
        }
        node = child;
    }
}

bool KeyExists(const std::string& path) {
    return Resolve(S().root.get(), path) != nullptr;
}

std::vector<std::string> AllKeys() {
    std::vector<std::string> keys;
    Collect(S().root.get(), keys);
    return keys;
}

void RefuseOpen(const std::string& path, LONG status) {
    S().refuseOpen[FaultKey(path)] = status;
}

void FailEnum(const std::string& path, LONG status) {
    S().failEnum[FaultKey(path)] = status;
}

void FailDelete(const std::string& path, LONG status) {
    S().failDelete[FaultKey(path)] = status;
}

void VanishAfterEnum(const std::string& path) {
    S().vanishAfterEnum.push_back(FaultKey(path));
}

HKEY OpenForTest(const std::string& path) {
    Node* node = Resolve(S().root.get(), path);
    return node == nullptr ? nullptr : NewHandle(node);
}

void CloseForTest(HKEY key) {
    S().handles.erase(key);
}

int OpenHandleCount() {
    return static_cast<int>(S().handles.size());
}

bool HandleIsOpen(HKEY key) {
    return S().handles.count(key) != 0;
}

const std::vector<Call>& Calls() {
    return S().calls;
}

const std::vector<MessageBoxCall>& MessageBoxes() {
    return S().boxes;
}

std::string Describe(const Call& call) {
    const std::string status = " -> " + std::to_string(call.status);
    switch (call.op) {
    case Op::Open:
        return "Open " + call.key + " : " + call.name + status;
    case Op::Enum:
        return "Enum " + call.key + " [" + std::to_string(call.index) + "]" + status +
               (call.status == ERROR_SUCCESS ? " " + call.name : "");
    case Op::Delete:
        return "Delete " + call.key + " : " + call.name + status;
    case Op::Close:
        return "Close " + call.key + (call.status == ERROR_SUCCESS ? "" : status);
    }
    return "?";
}

std::vector<std::string> DescribeCalls() {
    std::vector<std::string> lines;
    for (const Call& call : S().calls) {
        lines.push_back(Describe(call));
    }
    return lines;
}

} // namespace fake

using fake::Call;
using fake::Op;

LONG RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    using namespace fake;
    Call call{Op::Open, parent, HandlePath(parent), subKey ? subKey : "(null)"};
    call.options = options;
    call.access = access;
    Node* start = NodeOf(parent);
    Node* node = nullptr;
    if (start == nullptr || result == nullptr) {
        call.status = ERROR_INVALID_HANDLE;
    } else if (start->deleted) {
        call.status = ERROR_KEY_DELETED;
    } else if ((node = Resolve(start, subKey ? subKey : "")) == nullptr) {
        call.status = ERROR_FILE_NOT_FOUND;
    } else if ((call.status = Lookup(S().refuseOpen, node)) == ERROR_SUCCESS) {
        *result = call.opened = NewHandle(node);
    }
    S().calls.push_back(call);
    return call.status;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPSTR className, LPDWORD classNameLength, PFILETIME lastWriteTime) {
    using namespace fake;
    Call call{Op::Enum, key, HandlePath(key), ""};
    call.index = index;
    call.nameLength = nameLength ? *nameLength : 0;
    Node* node = NodeOf(key);
    Node* child = nullptr;
    if (node == nullptr) {
        call.status = ERROR_INVALID_HANDLE;
    } else if (name == nullptr || nameLength == nullptr || reserved != nullptr ||
               className != nullptr || classNameLength != nullptr) {
        call.status = 87; // ERROR_INVALID_PARAMETER: the program never passes these
    } else if (node->deleted) {
        call.status = ERROR_KEY_DELETED;
    } else if ((call.status = Lookup(S().failEnum, node)) != ERROR_SUCCESS) {
    } else if (index >= node->children.size()) {
        call.status = ERROR_NO_MORE_ITEMS;
    } else {
        child = node->children[index].get();
        if (child->name.size() >= *nameLength) {
            call.status = ERROR_MORE_DATA;
        } else {
            std::memcpy(name, child->name.c_str(), child->name.size() + 1);
            *nameLength = static_cast<DWORD>(child->name.size());
            call.name = child->name;
            if (lastWriteTime != nullptr) {
                *lastWriteTime = FILETIME{0x1234, 0x5678};
            }
        }
    }
    S().calls.push_back(call);
    if (call.status == ERROR_SUCCESS) {
        auto& vanish = S().vanishAfterEnum;
        if (std::find(vanish.begin(), vanish.end(), FaultKey(child)) != vanish.end()) {
            Detach(child);
        }
    }
    return call.status;
}

LONG RegDeleteKeyA(HKEY parent, LPCSTR subKey) {
    using namespace fake;
    Call call{Op::Delete, parent, HandlePath(parent), subKey ? subKey : "(null)"};
    Node* start = NodeOf(parent);
    Node* node = nullptr;
    if (start == nullptr) {
        call.status = ERROR_INVALID_HANDLE;
    } else if (start->deleted) {
        call.status = ERROR_KEY_DELETED;
    } else if (subKey == nullptr || subKey[0] == '\0' ||
               (node = Resolve(start, subKey)) == nullptr) {
        call.status = ERROR_FILE_NOT_FOUND;
    } else if ((call.status = Lookup(S().failDelete, node)) != ERROR_SUCCESS) {
    } else if (!node->children.empty()) {
        call.status = ERROR_ACCESS_DENIED; // as the registry refuses a key that has subkeys
    } else {
        Detach(node);
    }
    S().calls.push_back(call);
    return call.status;
}

LONG RegCloseKey(HKEY key) {
    using namespace fake;
    Call call{Op::Close, key, HandlePath(key), ""};
    if (key == HKEY_LOCAL_MACHINE) {
        call.status = ERROR_SUCCESS; // predefined: closing it does nothing
    } else if (S().handles.erase(key) == 0) {
        call.status = ERROR_INVALID_HANDLE;
    }
    S().calls.push_back(call);
    return call.status;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    fake::S().boxes.push_back(
        fake::MessageBoxCall{owner, text ? text : "(null)", caption ? caption : "(null)", style});
    return IDOK;
}
