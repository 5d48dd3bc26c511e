// Declarations whose parts disagree, each of which must stop the compiler
// with its reason; CMakeLists.txt compiles this file once per DEFECT.
#include "binding/declare.hpp"

namespace merandol::py {

static constexpr auto date = declare_class("merandol.Date");
static PyObject *impl(PyObject *, std::int64_t, std::int64_t) { return nullptr; }

#if DEFECT == 1
static constexpr auto decl = date.instance_method("f", impl, "", param<I64>("days"), param<I64>("days"));
#elif DEFECT == 2
static constexpr auto decl = date.instance_method("f", impl, "", param<I64>("a", 0), param<I64>("b"));
#elif DEFECT == 3
static constexpr auto decl = date.instance_method("f", impl, "", param<I64>("a", 0).keyword_only(), param<I64>("b", 0));
#elif DEFECT == 4
static constexpr auto decl = date.instance_method("f", impl, "", param<I64>("a"), param<I64>("b").keyword_only());
#elif DEFECT == 5
static constexpr auto decl = module_function("f", impl, "", param<I64>("a"), param<I64>("b").positional_only());
#elif DEFECT == 6
static constexpr auto decl = DeclaredClass{}.instance_method("f", impl, "", param<I64>("a"), param<I64>("b"));
#elif DEFECT == 7
static constexpr auto decl = date.instance_method("f", impl, "", param<I64>("a"), param<Bool>("b"));
#else  // the control: a sound declaration compiles
static constexpr auto decl = date.instance_method("f", impl, "", param<I64>("a").positional_only(), param<I64>("b", 0));
#endif

PyMethodDef method_row() { return row<decl>(); }

}  // namespace merandol::py
