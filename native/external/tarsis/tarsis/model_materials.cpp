// Model: layers, concrete material overrides, non-linear functions, subsoils, orthotropy and
// selections.
#include "model_support.h"

namespace norvale::tarsis::model {

void add_material_methods(nb::handle cls) {
    bind::def_method(
        cls, "create_layer",
        "(self, name: Optional[str] = None, *, comment: Optional[str] = None, "
        "structural_model_only: Optional[bool] = None, current_used_activity: Optional[bool] = None) -> Layer",
        [](nb::handle self, nb::handle name, nb::handle comment, nb::handle structural_model_only,
           nb::handle current_used_activity) {
            nb::object id = next_id(self, layers);
            nb::object nm = default_name(name, "Layer", id);
            nb::object reg = registry(self, layers);
            int taken = PySequence_Contains(reg.ptr(), nm.ptr());
            if (taken < 0) throw nb::python_error();
            if (taken) {
                nb::object text =
                    nb::steal(PyUnicode_FromFormat("Layer '%S' already exists in current model.", nm.ptr()));
                if (!text.is_valid()) throw nb::python_error();
                PyErr_SetObject(PyExc_ValueError, text.ptr());
                throw nb::python_error();
            }
            nb::object layer = make(NV_GLOBAL(Layer), id, nm, comment, structural_model_only, current_used_activity);
            if (PyObject_SetItem(registry(self, layers).ptr(), nm.ptr(), layer.ptr()) < 0) throw nb::python_error();
            return layer;
        },
        "Creates a layer; a missing name becomes Layer<id>. Layer names are unique.");

    bind::def_method(
        cls, "update_concrete_material",
        "(self, object_id: int, name: str, part: Union[Concrete.ECPart, str], "
        "thermal_expansion: Optional[float] = None, unit_mass: Optional[float] = None, "
        "wet_density: Optional[float] = None, e_modulus: Optional[float] = None, poisson: Optional[float] = None, "
        "g_modulus: Optional[float] = None, log_decrement: Optional[float] = None, "
        "specific_heat: Optional[float] = None, thermal_conductivity: Optional[float] = None, *, "
        "fck: Optional[float] = None) -> Concrete",
        [](nb::handle self, nb::handle object_id, nb::handle name, nb::handle part, nb::handle thermal_expansion,
           nb::handle unit_mass, nb::handle wet_density, nb::handle e_modulus, nb::handle poisson, nb::handle g_modulus,
           nb::handle log_decrement, nb::handle specific_heat, nb::handle thermal_conductivity, nb::handle fck) {
            return store(self, concrete_materials,
                         make_kw(NV_GLOBAL(Concrete), NV_KWNAMES("fck"), object_id, name, part, thermal_expansion,
                                 unit_mass, wet_density, e_modulus, poisson, g_modulus, log_decrement, specific_heat,
                                 thermal_conductivity, fck));
        },
        "Overrides properties of the concrete material `object_id` of the project file.");

    bind::def_method(
        cls, "create_nonlinear_function",
        "(self, name: str, function_type: Union[NonLinearFunction.Type, str], "
        "positive_end: Union[NonLinearFunction.Support, str], negative_end: Union[NonLinearFunction.Support, str], "
        "impulse: Sequence[Tuple[float, float]]) -> NonLinearFunction",
        [](nb::handle self, nb::handle name, nb::handle function_type, nb::handle positive_end, nb::handle negative_end,
           nb::handle impulse) {
            nb::object id = next_id(self, nonlinear_functions);
            return store(
                self, nonlinear_functions,
                make(NV_GLOBAL(NonLinearFunction), id, name, function_type, positive_end, negative_end, impulse));
        },
        "Creates a non-linear function from (x, y) points.");

    bind::def_method(
        cls, "create_subsoil",
        "(self, name: str, *, stiffness: float, c1x: Optional[float] = None, c1y: Optional[float] = None, "
        "c1z: Optional[Union[Subsoil.C1z, str]] = None, nonlinear_function: Optional[NonLinearFunction] = None, "
        "c2x: Optional[float] = None, c2y: Optional[float] = None, is_drained: Optional[bool] = None, "
        "water_air_in_clay_subgrade: Optional[bool] = None, specific_weight: Optional[float] = None, "
        "fi: Optional[float] = None, sigma_oc: Optional[float] = None, c: Optional[float] = None, "
        "cu: Optional[float] = None) -> Subsoil",
        [](nb::handle self, nb::handle name, nb::handle stiffness, nb::handle c1x, nb::handle c1y, nb::handle c1z,
           nb::handle nonlinear_function, nb::handle c2x, nb::handle c2y, nb::handle is_drained,
           nb::handle water_air_in_clay_subgrade, nb::handle specific_weight, nb::handle fi, nb::handle sigma_oc,
           nb::handle c, nb::handle cu) {
            check_optional(self, nonlinear_functions, nonlinear_function,
                           "Non-linear function not defined in current model");
            nb::object id = next_id(self, subsoils);
            return store(self, subsoils,
                         make(NV_GLOBAL(Subsoil), id, name, stiffness, c1x, c1y, c1z, nonlinear_function, c2x, c2y,
                              is_drained, water_air_in_clay_subgrade, specific_weight, fi, sigma_oc, c, cu));
        },
        "Creates a subsoil for surface supports.");

    bind::def_method(
        cls, "create_orthotropy",
        "(self, name: str, material: Material, thickness: float, D11: Optional[float] = None, "
        "D22: Optional[float] = None, D12: Optional[float] = None, D33: Optional[float] = None, "
        "D44: Optional[float] = None, D55: Optional[float] = None, d11: Optional[float] = None, "
        "d22: Optional[float] = None, d12: Optional[float] = None, d33: Optional[float] = None, "
        "kxy: Optional[float] = None, kyx: Optional[float] = None) -> Orthotropy",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle thickness, nb::handle D11, nb::handle D22,
           nb::handle D12, nb::handle D33, nb::handle D44, nb::handle D55, nb::handle d11, nb::handle d22,
           nb::handle d12, nb::handle d33, nb::handle kxy, nb::handle kyx) {
            nb::object id = next_id(self, orthotropy_objects);
            return store(self, orthotropy_objects,
                         make(NV_GLOBAL(Orthotropy), id, name, material, thickness, D11, D22, D12, D33, D44, D55, d11,
                              d22, d12, d33, kxy, kyx));
        },
        "Creates an orthotropy definition for planes.");

    bind::def_method(
        cls, "create_selection",
        "(self, name: str, objects: Sequence[TarsisObject]) -> Selection",
        [](nb::handle self, nb::handle name, nb::handle objects) {
            nb::list records;
            nb::object it = nb::steal(PyObject_GetIter(objects.ptr()));
            if (!it.is_valid()) throw nb::python_error();
            while (PyObject *raw = PyIter_Next(it.ptr())) {
                nb::object obj = nb::steal(raw);
                nb::dict record;
                record["id"] = attr(obj, NV_STR("_object_id"));
                record["name"] = attr(obj, NV_STR("_name"));
                // The class the object reports: a proxy, or a mock standing in for a Beam, says Beam.
                record["type"] = attr(attr(obj, NV_STR("__class__")), NV_STR("__name__"));
                records.append(record);
            }
            if (PyErr_Occurred()) throw nb::python_error();
            nb::object id = next_id(self, selections);
            return store(self, selections, make(NV_GLOBAL(Selection), id, name, records));
        }, "Creates a named selection of model objects.");
}

}  // namespace norvale::tarsis::model
