// Declarations whose parts disagree, each of which must stop the compiler
// with its reason; CMakeLists.txt compiles this file once per DEFECT.
#include "binding/declare.hpp"

namespace merandol::py {

static PyObject *two_ints(PyObject *, std::int64_t, std::int64_t) { return nullptr; }

#if DEFECT == 1
static constexpr auto decl = instance_method("Date", "f", "", param<I64>("days"), param<I64>("days"));
#elif DEFECT == 2
static constexpr auto decl = instance_method("Date", "f", "", param<I64>("a", 0), param<I64>("b"));
#elif DEFECT == 3
static constexpr auto decl = instance_method("Date", "f", "", param<I64>("a", 0).keyword_only(), param<I64>("b", 0));
#elif DEFECT == 4
static constexpr auto decl = instance_method("Date", "f", "", param<I64>("a"), param<I64>("b").keyword_only());
#elif DEFECT == 5
static constexpr auto decl = module_function("f", "", param<I64>("a"), param<I64>("b").positional_only());
#elif DEFECT == 6
static constexpr auto decl = instance_method(nullptr, "f", "", param<I64>("a"), param<I64>("b"));
#else
// The control: a sound declaration compiles.
static constexpr auto decl = instance_method("Date", "f", "", param<I64>("a").positional_only(), param<I64>("b", 0));
#endif

PyMethodDef method_row() { return row<decl, two_ints>(); }

}  // namespace merandol::py
