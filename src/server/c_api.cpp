// The C interface: opaque handles over counted references and Variants.
#include "korado/korado.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "korado/platform/modGlobals.h"
#include "korado/runtime/convert.h"
#include "korado/runtime/registry.h"

struct korado_value {
    korado::Variant v;
    std::string text;  // backing store of korado_value_text
};

namespace {

using korado::Dispatch;
using korado::Ref;
using korado::Variant;

// A C handle is the object's own pointer carrying one reference of its own.
korado_object* Handle(Ref<Dispatch> r) { return reinterpret_cast<korado_object*>(r.detach()); }
Dispatch* Object(korado_object* h) { return reinterpret_cast<Dispatch*>(h); }

void Fill(korado_error* err, const korado::Error& e) {
    if (!err) return;
    err->number = e.Number();
    std::snprintf(err->source, sizeof err->source, "%s", e.Source().c_str());
    std::snprintf(err->description, sizeof err->description, "%s", e.Description().c_str());
}

void Clear(korado_error* err) {
    if (!err) return;
    err->number = 0;
    err->source[0] = '\0';
    err->description[0] = '\0';
}

template <class F>
std::int32_t Guard(korado_error* err, F&& f) {
    Clear(err);
    try {
        f();
        return 0;
    } catch (...) {
        korado::Error e = korado::CurrentException();
        Fill(err, e);
        return e.Number() != 0 ? e.Number() : korado::rt::InternalError;
    }
}

korado_value* NewValue(Variant v) { return new korado_value{std::move(v), {}}; }

// A C host's object: every call goes to its invoke callback, with the arguments as korado_values the
// callback may change.
class HostObject final : public Dispatch {
  public:
    HostObject(const korado_callbacks& callbacks, void* context, const char* class_name)
        : callbacks_(callbacks), context_(context), class_name_(class_name ? class_name : "Object") {}
    ~HostObject() override {
        if (callbacks_.release) callbacks_.release(context_);
    }

    Variant Invoke(std::string_view member, korado::CallType type, std::span<Variant> args) override {
        std::vector<korado_value> values;
        values.reserve(args.size());
        for (const Variant& a : args) values.push_back(korado_value{a, {}});
        std::vector<korado_value*> pointers;
        pointers.reserve(values.size());
        for (korado_value& v : values) pointers.push_back(&v);
        korado_value result{};
        korado_error err;
        Clear(&err);
        std::string name(member);
        std::int32_t rc = callbacks_.invoke(context_, name.c_str(), static_cast<int>(type), pointers.data(),
                                            pointers.size(), &result, &err);
        if (rc != 0) Raise(rc, err);
        for (std::size_t i = 0; i < args.size(); ++i) args[i] = std::move(values[i].v);
        return std::move(result.v);
    }

    std::string_view ClassName() const noexcept override { return class_name_; }

  private:
    [[noreturn]] void Raise(std::int32_t rc, korado_error& err) const {
        // The callback may have filled the buffers to the last byte.
        err.source[sizeof err.source - 1] = '\0';
        err.description[sizeof err.description - 1] = '\0';
        std::int32_t number = err.number != 0 ? err.number : rc;
        std::string description = err.description;
        if (description.empty()) description = std::string(korado::RuntimeErrorText(number));
        throw korado::Error(number, err.source[0] != '\0' ? std::string(err.source) : class_name_,
                            std::move(description));
    }

    korado_callbacks callbacks_;
    void* context_;
    std::string class_name_;
};

}  // namespace

extern "C" {

const char* korado_version(void) { return korado::kVersionText; }

korado_object* korado_create(const char* prog_id, korado_error* err) {
    korado_object* out = nullptr;
    Guard(err, [&] { out = Handle(korado::CreateObject(prog_id ? prog_id : "")); });
    return out;
}

void korado_addref(korado_object* obj) {
    if (obj) Object(obj)->AddRef();
}

void korado_release(korado_object* obj) {
    if (obj) Object(obj)->Release();
}

int32_t korado_invoke(korado_object* obj, const char* member, int call_type, korado_value** args, size_t arg_count,
                      korado_value* result, korado_error* err) {
    return Guard(err, [&] {
        if (!obj) korado::RaiseRuntime(korado::rt::ObjectNotSet);
        std::vector<Variant> values;
        values.reserve(arg_count);
        for (size_t i = 0; i < arg_count; ++i) values.push_back(args[i] ? args[i]->v : Variant::Missing());
        Ref<Dispatch> target(Object(obj));
        Variant r = target->Invoke(member ? member : "", static_cast<korado::CallType>(call_type), values);
        // By-reference arguments come back to the caller's values.
        for (size_t i = 0; i < arg_count; ++i)
            if (args[i]) args[i]->v = std::move(values[i]);
        if (result) result->v = std::move(r);
    });
}

void korado_release_globals(void) { korado::ReleaseGlobals(); }

const char* korado_prog_id(size_t index) {
    static std::vector<std::string> ids;
    auto all = korado::RegisteredClasses();
    ids.clear();
    for (const auto& reg : all) ids.push_back(reg.prog_id);
    return index < ids.size() ? ids[index].c_str() : nullptr;
}

korado_object* korado_object_new(const korado_callbacks* callbacks, void* context, const char* class_name) {
    if (!callbacks || !callbacks->invoke) return nullptr;
    try {
        return Handle(korado::MakeRef<HostObject>(*callbacks, context, class_name));
    } catch (...) {
        return nullptr;
    }
}

korado_value* korado_value_new(void) { return NewValue(Variant()); }
korado_value* korado_value_new_text(const char* utf8) { return NewValue(Variant(std::string(utf8 ? utf8 : ""))); }
korado_value* korado_value_new_long(int32_t v) { return NewValue(Variant(v)); }
korado_value* korado_value_new_double(double v) { return NewValue(Variant(v)); }
korado_value* korado_value_new_bool(int v) { return NewValue(Variant(v != 0)); }
korado_value* korado_value_new_null(void) { return NewValue(Variant::Null()); }
korado_value* korado_value_new_missing(void) { return NewValue(Variant::Missing()); }
korado_value* korado_value_new_object(korado_object* obj) {
    return NewValue(Variant(Ref<Dispatch>(obj ? Object(obj) : nullptr)));
}
void korado_value_free(korado_value* v) { delete v; }
int32_t korado_value_set(korado_value* target, const korado_value* source) {
    return Guard(nullptr, [&] {
        if (target) target->v = source ? source->v : Variant();
    });
}

int korado_value_type(const korado_value* v) { return v ? static_cast<int>(v->v.Type()) : KORADO_EMPTY; }

const char* korado_value_text(korado_value* v) {
    if (!v) return nullptr;
    try {
        v->text = korado::CStr(v->v);
        return v->text.c_str();
    } catch (...) {
        return nullptr;
    }
}

int32_t korado_value_long(const korado_value* v, int32_t* out) {
    return Guard(nullptr, [&] { *out = korado::CLng(v ? v->v : Variant()); });
}
int32_t korado_value_double(const korado_value* v, double* out) {
    return Guard(nullptr, [&] { *out = korado::CDbl(v ? v->v : Variant()); });
}
int32_t korado_value_bool(const korado_value* v, int* out) {
    return Guard(nullptr, [&] { *out = korado::CBool(v ? v->v : Variant()) ? 1 : 0; });
}

korado_object* korado_value_object(const korado_value* v) {
    if (!v) return nullptr;
    Ref<Dispatch> o = v->v.AsObject();
    return o ? Handle(std::move(o)) : nullptr;
}

}  // extern "C"
