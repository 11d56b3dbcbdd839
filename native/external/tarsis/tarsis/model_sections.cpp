// Model: cross-sections, general cross-section elements and arbitrary profiles.
#include "model_support.h"

namespace norvale::tarsis::model {

void add_section_methods(nb::handle cls) {
    bind::def_method(
        cls, "create_rectangular_cross_section",
        "(self, name: str, material: Material, width: float, height: float) -> RectangularCrossSection",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle width, nb::handle height) {
            nb::object id = next_id(self, cross_sections);
            return store(self, cross_sections,
                         make(NV_GLOBAL(RectangularCrossSection), id, name, material, width, height));
        }, "Creates a rectangular cross-section.");

    bind::def_method(
        cls, "create_circular_cross_section",
        "(self, name: str, material: Material, diameter: float) -> CircularCrossSection",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle diameter) {
            nb::object id = next_id(self, cross_sections);
            return store(self, cross_sections, make(NV_GLOBAL(CircularCrossSection), id, name, material, diameter));
        }, "Creates a solid circular cross-section.");

    bind::def_method(
        cls, "create_circular_hollow_cross_section",
        "(self, name: str, material: Material, diameter: float, thickness: float) -> CircularHollowCrossSection",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle diameter, nb::handle thickness) {
            nb::object id = next_id(self, cross_sections);
            return store(self, cross_sections,
                         make(NV_GLOBAL(CircularHollowCrossSection), id, name, material, diameter, thickness));
        }, "Creates a circular tube cross-section.");

    bind::def_method(
        cls, "create_circular_composed_cross_section",
        "(self, name: str, material: Material, material_2: Material, diameter: float, "
        "thickness: float) -> CircularComposedCrossSection",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle material_2, nb::handle diameter,
           nb::handle thickness) {
            nb::object id = next_id(self, cross_sections);
            return store(
                self, cross_sections,
                make(NV_GLOBAL(CircularComposedCrossSection), id, name, material, material_2, diameter, thickness));
        },
        "Creates a filled circular tube: `material` outside, `material_2` inside.");

    bind::def_method(
        cls, "create_numerical_cross_section",
        "(self, name: str, material: Material, *, A: Optional[float] = None, Ay: Optional[float] = None, "
        "Az: Optional[float] = None, AL: Optional[float] = None, AD: Optional[float] = None, "
        "cYUCS: Optional[float] = None, cZUCS: Optional[float] = None, alpha: Optional[float] = None, "
        "Iy: Optional[float] = None, Iz: Optional[float] = None, Wely: Optional[float] = None, "
        "Welz: Optional[float] = None, Wply: Optional[float] = None, Wplz: Optional[float] = None, "
        "Mply_plus: Optional[float] = None, Mply_min: Optional[float] = None, Mplz_plus: Optional[float] = None, "
        "Mplz_min: Optional[float] = None, dy: Optional[float] = None, dz: Optional[float] = None, "
        "It: Optional[float] = None, Iw: Optional[float] = None, beta_y: Optional[float] = None, "
        "beta_z: Optional[float] = None) -> NumericalCrossSection",
        [](nb::handle self, nb::handle name, nb::handle material, nb::handle A, nb::handle Ay, nb::handle Az,
           nb::handle AL, nb::handle AD, nb::handle cYUCS, nb::handle cZUCS, nb::handle alpha, nb::handle Iy,
           nb::handle Iz, nb::handle Wely, nb::handle Welz, nb::handle Wply, nb::handle Wplz, nb::handle Mply_plus,
           nb::handle Mply_min, nb::handle Mplz_plus, nb::handle Mplz_min, nb::handle dy, nb::handle dz, nb::handle It,
           nb::handle Iw, nb::handle beta_y, nb::handle beta_z) {
            nb::object id = next_id(self, cross_sections);
            return store(self, cross_sections,
                         make_kw(NV_GLOBAL(NumericalCrossSection),
                                 NV_KWNAMES("A", "Ay", "Az", "AL", "AD", "cYUCS", "cZUCS", "alpha", "Iy", "Iz", "Wely",
                                            "Welz", "Wply", "Wplz", "Mply_plus", "Mply_min", "Mplz_plus", "Mplz_min",
                                            "dy", "dz", "It", "Iw", "beta_y", "beta_z"),
                                 id, name, material, A, Ay, Az, AL, AD, cYUCS, cZUCS, alpha, Iy, Iz, Wely, Welz, Wply,
                                 Wplz, Mply_plus, Mply_min, Mplz_plus, Mplz_min, dy, dz, It, Iw, beta_y, beta_z));
        },
        "Creates a cross-section given by its section properties.");

    bind::def_method(
        cls, "create_library_cross_section",
        "(self, section: Union[LibraryCrossSection.Section, str], profile: str, material: Material, *, "
        "name: Optional[str] = None) -> LibraryCrossSection",
        [](nb::handle self, nb::handle section, nb::handle profile, nb::handle material, nb::handle name) {
            nb::object id = next_id(self, cross_sections);
            nb::object nm = default_name(name, "CS", id);
            return store(self, cross_sections,
                         make(NV_GLOBAL(LibraryCrossSection), id, nm, material, section, profile));
        },
        "Creates a library profile cross-section; a missing name becomes CS<id>.");

    bind::def_method(
        cls, "create_general_cross_section_element",
        "(self, name: str, element_type: Union[GeneralCrossSectionElement.Type, str], "
        "points: Sequence[Tuple[float, float]], *, "
        "material: Optional[Material] = None) -> GeneralCrossSectionElement",
        [](nb::handle self, nb::handle name, nb::handle element_type, nb::handle points, nb::handle material) {
            return store(self, general_cross_section_elements,
                         make_kw(NV_GLOBAL(GeneralCrossSectionElement), NV_KWNAMES("material"), name, element_type,
                                 points, material));
        },
        "Creates a polygon or opening for a general cross-section.");

    bind::def_method(
        cls, "create_general_cross_section",
        "(self, elements: Sequence[GeneralCrossSectionElement], *, "
        "name: Optional[str] = None) -> GeneralCrossSection",
        [](nb::handle self, nb::handle elements, nb::handle name) {
            check_each(self, general_cross_section_elements, elements,
                       "One or more elements not defined in current model");
            nb::object polygon_type =
                attr(attr(NV_GLOBAL(GeneralCrossSectionElement), NV_STR("Type")), NV_STR("POLYGON"));
            nb::list polygons;
            nb::object it = nb::steal(PyObject_GetIter(elements.ptr()));
            if (!it.is_valid()) throw nb::python_error();
            while (PyObject *raw = PyIter_Next(it.ptr())) {
                nb::object element = nb::steal(raw);
                nb::object same = nb::steal(
                    PyObject_RichCompare(attr(element, NV_STR("_element_type")).ptr(), polygon_type.ptr(), Py_EQ));
                if (!same.is_valid()) throw nb::python_error();
                if (truthy(same)) polygons.append(element);
            }
            if (PyErr_Occurred()) throw nb::python_error();
            if (nb::len(polygons) != 1)
                value_error("GeneralCrossSection should contain (only) one element of type POLYGON");
            nb::object material = attr(polygons[0], NV_STR("_material"));
            nb::object id = next_id(self, cross_sections);
            nb::object nm = default_name(name, "CS", id);
            return store(self, cross_sections, make(NV_GLOBAL(GeneralCrossSection), id, nm, material, elements));
        },
        "Creates a cross-section from one polygon element and any openings; a missing name becomes CS<id>.");

    bind::def_method(
        cls, "create_arbitrary_profile_span",
        "(self, length: float, type_of_css: Union[ArbitraryProfileSpan.TypeOfCss, str], "
        "cross_section_start: CrossSection, cross_section_end: CrossSection, "
        "alignment: Union[ArbitraryProfileSpan.Alignment, str]) -> ArbitraryProfileSpan",
        [](nb::handle self, nb::handle length, nb::handle type_of_css, nb::handle cross_section_start,
           nb::handle cross_section_end, nb::handle alignment) {
            check(self, cross_sections, cross_section_start, "Cross-section start not defined in current model");
            check(self, cross_sections, cross_section_end, "Cross-section end not defined in current model");
            return store(self, arbitrary_profile_spans,
                         make(NV_GLOBAL(ArbitraryProfileSpan), length, type_of_css, cross_section_start,
                              cross_section_end, alignment));
        },
        "Creates one span of an arbitrary profile.");

    bind::def_method(
        cls, "create_arbitrary_profile",
        "(self, name: str, beam: Beam, c_def: Union[ArbitraryProfile.CDef, str], cross_section: CrossSection, "
        "spans: Sequence[ArbitraryProfileSpan]) -> ArbitraryProfile",
        [](nb::handle self, nb::handle name, nb::handle beam, nb::handle c_def, nb::handle cross_section,
           nb::handle spans) {
            check(self, beams, beam, "Beam not defined in current model");
            check(self, cross_sections, cross_section, "Cross-section not defined in current model");
            check_each(self, arbitrary_profile_spans, spans, "One or more spans not defined in current model");
            nb::object id = next_id(self, arbitrary_profiles);
            return store(self, arbitrary_profiles,
                         make(NV_GLOBAL(ArbitraryProfile), id, name, beam, c_def, cross_section, spans));
        },
        "Gives a beam a cross-section that changes from span to span.");
}

}  // namespace norvale::tarsis::model
