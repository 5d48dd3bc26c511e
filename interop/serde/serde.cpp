// The names of merandol_interop that carry merandol's values through
// pydantic, msgspec and JSON.  They are the pure-Python module
// _merandol_serde's, installed beside the extensions: what they do is call
// those libraries' Python APIs, and the module imports none of them until
// it is used.
#include "interop/interop.hpp"

namespace merandol::py {

extern const InteropUnit kSerdeUnit;

static int serde_exec(PyObject *module) {
    PyObject *serde = PyImport_ImportModule("_merandol_serde");
    if (serde == nullptr) return -1;
    int added = 0;
    for (const char *name : kSerdeUnit.attributes) {
        PyObject *value = PyObject_GetAttrString(serde, name);
        added = value ? PyModule_Add(module, name, value) : -1;
        if (added < 0) break;
    }
    Py_DECREF(serde);
    return added;
}

static PyMethodDef serde_functions[] = {kEndOfMethods};

extern const InteropUnit kSerdeUnit = {
    serde_functions, serde_exec, {"Pydantic", "json_default", "msgspec_enc_hook", "msgspec_dec_hook"}};

}  // namespace merandol::py
