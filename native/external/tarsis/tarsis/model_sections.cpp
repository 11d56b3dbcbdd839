// Model: cross-sections, general cross-section elements and arbitrary profiles.
#include "model_support.h"

namespace norvale::tarsis::model {

void add_section_methods(norvale::bind::ClassBuilder &cls) {
    cls.def(
        "create_rectangular_cross_section",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle width, nb::handle height) {
            nb::object id = next_id(self, cross_sections);
            return store(self, cross_sections, NV_GLOBAL(RectangularCrossSection)(id, name, material, width, height));
        },
        req("name"), req("material"), req("width"), req("height"), "Creates a rectangular cross-section.");

    cls.def(
        "create_circular_cross_section",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle diameter) {
            nb::object id = next_id(self, cross_sections);
            return store(self, cross_sections, NV_GLOBAL(CircularCrossSection)(id, name, material, diameter));
        },
        req("name"), req("material"), req("diameter"), "Creates a solid circular cross-section.");

    cls.def(
        "create_circular_hollow_cross_section",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle diameter, nb::handle thickness) {
            nb::object id = next_id(self, cross_sections);
            return store(self, cross_sections,
                         NV_GLOBAL(CircularHollowCrossSection)(id, name, material, diameter, thickness));
        },
        req("name"), req("material"), req("diameter"), req("thickness"), "Creates a circular tube cross-section.");

    cls.def(
        "create_circular_composed_cross_section",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle material_2, nb::handle diameter,
           nb::handle thickness) {
            nb::object id = next_id(self, cross_sections);
            return store(self, cross_sections,
                         NV_GLOBAL(CircularComposedCrossSection)(id, name, material, material_2, diameter, thickness));
        },
        req("name"), req("material"), req("material_2"), req("diameter"), req("thickness"),
        "Creates a filled circular tube: `material` outside, `material_2` inside.");

    cls.def(
        "create_numerical_cross_section",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle A, nb::handle Ay, nb::handle Az, nb::handle AL, nb::handle AD, nb::handle cYUCS, nb::handle cZUCS, nb::handle alpha, nb::handle Iy, nb::handle Iz, nb::handle Wely, nb::handle Welz, nb::handle Wply, nb::handle Wplz, nb::handle Mply_plus, nb::handle Mply_min, nb::handle Mplz_plus, nb::handle Mplz_min, nb::handle dy, nb::handle dz, nb::handle It, nb::handle Iw, nb::handle beta_y, nb::handle beta_z) {
            nb::object id = next_id(self, cross_sections);
            return store(self, cross_sections,
                         NV_GLOBAL(NumericalCrossSection)(id, name, material, nb::arg("A") = A, nb::arg("Ay") = Ay, nb::arg("Az") = Az, nb::arg("AL") = AL, nb::arg("AD") = AD, nb::arg("cYUCS") = cYUCS, nb::arg("cZUCS") = cZUCS, nb::arg("alpha") = alpha, nb::arg("Iy") = Iy, nb::arg("Iz") = Iz, nb::arg("Wely") = Wely, nb::arg("Welz") = Welz, nb::arg("Wply") = Wply, nb::arg("Wplz") = Wplz, nb::arg("Mply_plus") = Mply_plus, nb::arg("Mply_min") = Mply_min, nb::arg("Mplz_plus") = Mplz_plus, nb::arg("Mplz_min") = Mplz_min, nb::arg("dy") = dy, nb::arg("dz") = dz, nb::arg("It") = It, nb::arg("Iw") = Iw, nb::arg("beta_y") = beta_y, nb::arg("beta_z") = beta_z));
        },
        req("name"), req("material"), nb::kw_only(), opt("A"), opt("Ay"), opt("Az"), opt("AL"), opt("AD"), opt("cYUCS"), opt("cZUCS"), opt("alpha"), opt("Iy"), opt("Iz"), opt("Wely"), opt("Welz"), opt("Wply"), opt("Wplz"), opt("Mply_plus"), opt("Mply_min"), opt("Mplz_plus"), opt("Mplz_min"), opt("dy"), opt("dz"), opt("It"), opt("Iw"), opt("beta_y"), opt("beta_z"),
        "Creates a cross-section given by its section properties.");

    cls.def(
        "create_library_cross_section",
        [](nb::handle self, nb::handle section, nb::handle profile, nb::handle material, nb::handle name) {
            nb::object id = next_id(self, cross_sections);
            nb::object nm = default_name(name, "CS", id);
            return store(self, cross_sections, NV_GLOBAL(LibraryCrossSection)(id, nm, material, section, profile));
        },
        req("section"), req("profile"), req("material"), nb::kw_only(), opt("name"),
        "Creates a library profile cross-section; a missing name becomes CS<id>.");

    cls.def(
        "create_general_cross_section_element",
        [](nb::handle self, nb::handle name, nb::handle element_type, nb::handle points, nb::handle material) {
            return store(self, general_cross_section_elements,
                         NV_GLOBAL(GeneralCrossSectionElement)(name, element_type, points, nb::arg("material") = material));
        },
        req("name"), req("element_type"), req("points"), nb::kw_only(), opt("material"),
        "Creates a polygon or opening for a general cross-section.");

    cls.def(
        "create_general_cross_section",
        [](nb::handle self, nb::handle elements, nb::handle name) {
            check_each(self, general_cross_section_elements, elements,
                       "One or more elements not defined in current model");
            nb::object polygon_type = attr(attr(NV_GLOBAL(GeneralCrossSectionElement), NV_STR("Type")), NV_STR("POLYGON"));
            nb::list polygons;
            nb::object it = nb::steal(PyObject_GetIter(elements.ptr()));
            if (!it.is_valid())
                throw nb::python_error();
            while (PyObject *raw = PyIter_Next(it.ptr())) {
                nb::object element = nb::steal(raw);
                nb::object same =
                    nb::steal(PyObject_RichCompare(attr(element, NV_STR("_element_type")).ptr(), polygon_type.ptr(), Py_EQ));
                if (!same.is_valid())
                    throw nb::python_error();
                if (truthy(same))
                    polygons.append(element);
            }
            if (PyErr_Occurred())
                throw nb::python_error();
            if (nb::len(polygons) != 1)
                value_error("GeneralCrossSection should contain (only) one element of type POLYGON");
            nb::object material = attr(polygons[0], NV_STR("_material"));
            nb::object id = next_id(self, cross_sections);
            nb::object nm = default_name(name, "CS", id);
            return store(self, cross_sections, NV_GLOBAL(GeneralCrossSection)(id, nm, material, elements));
        },
        req("elements"), nb::kw_only(), opt("name"),
        "Creates a cross-section from one polygon element and any openings; a missing name becomes CS<id>.");

    cls.def(
        "create_arbitrary_profile_span",
        [](nb::handle self, nb::handle length, nb::handle type_of_css, nb::handle cross_section_start,
           nb::handle cross_section_end, nb::handle alignment) {
            check(self, cross_sections, cross_section_start, "Cross-section start not defined in current model");
            check(self, cross_sections, cross_section_end, "Cross-section end not defined in current model");
            return store(self, arbitrary_profile_spans,
                         NV_GLOBAL(ArbitraryProfileSpan)(length, type_of_css, cross_section_start, cross_section_end,
                                                         alignment));
        },
        req("length"), req("type_of_css"), req("cross_section_start"), req("cross_section_end"), req("alignment"),
        "Creates one span of an arbitrary profile.");

    cls.def(
        "create_arbitrary_profile",
        [](nb::handle self, nb::handle name, nb::handle beam, nb::handle c_def, nb::handle cross_section,
           nb::handle spans) {
            check(self, beams, beam, "Beam not defined in current model");
            check(self, cross_sections, cross_section, "Cross-section not defined in current model");
            check_each(self, arbitrary_profile_spans, spans, "One or more spans not defined in current model");
            nb::object id = next_id(self, arbitrary_profiles);
            return store(self, arbitrary_profiles,
                         NV_GLOBAL(ArbitraryProfile)(id, name, beam, c_def, cross_section, spans));
        },
        req("name"), req("beam"), req("c_def"), req("cross_section"), req("spans"),
        "Gives a beam a cross-section that changes from span to span.");
}

}  // namespace norvale::tarsis::model
