// The registries of a Tarsis model, in one table (plain C++: engine code may include it).
//
// A row per instance attribute of a Model, in the order its constructor creates them:
//   X(id, kind, accessor, element class, document position, document member, second document member)
// The attribute is "_" followed by the id. `kind` says what the attribute holds: a list of
// elements, a dict of layers by name, or one setup object (made from the element class when none
// is given). The accessor is the read-only property that shows it (nullptr: none). The model
// document (`Model._serialize`) has 49 members; a registry fills the member at its position, or two
// members (position and the next) when it is split: concrete materials by their Eurocode part,
// cross-sections into plain and numerical ones. Position -1: not part of the document.
//
// Adding a registry is one row here, plus its create-methods.
#pragma once

#include <array>
#include <cstddef>

#define NORVALE_TARSIS_REGISTRIES(X)                                                                             \
    X(layers, Dict, "layers", "Layer", 2, "layers", nullptr)                                                     \
    X(cross_sections, List, "cross_sections", "CrossSection", 7, "cross_sections", "numerical_cross_sections")   \
    X(general_cross_section_elements, List, nullptr, "GeneralCrossSectionElement", -1, nullptr, nullptr)         \
    X(concrete_materials, List, "concrete_materials", "Concrete", 0, "concrete_en1992_1_1", "concrete_en1992_2") \
    X(subsoils, List, "subsoils", "Subsoil", 4, "subsoils", nullptr)                                             \
    X(nonlinear_functions, List, "nonlinear_functions", "NonLinearFunction", 3, "nonlinear_functions", nullptr)  \
    X(orthotropy_objects, List, "orthotropy_objects", "Orthotropy", 5, "orthotropy_objects", nullptr)            \
    X(selections, List, "selections", "Selection", 6, "selections", nullptr)                                     \
    X(nodes, List, "nodes", "Node", 9, "nodes", nullptr)                                                         \
    X(beams, List, "beams", "Beam", 10, "beams", nullptr)                                                        \
    X(cross_links, List, "cross_links", "CrossLink", 11, "cross_links", nullptr)                                 \
    X(arbitrary_profile_spans, List, nullptr, "ArbitraryProfileSpan", -1, nullptr, nullptr)                      \
    X(arbitrary_profiles, List, "arbitrary_profiles", "ArbitraryProfile", 12, "arbitrary_profiles", nullptr)     \
    X(hinges_on_beam, List, "hinges_on_beam", "HingeOnBeam", 13, "hinges_on_beam", nullptr)                      \
    X(hinges_on_plane, List, "hinges_on_plane", "HingeOnPlane", 24, "hinges_on_plane", nullptr)                  \
    X(sections_on_beam, List, "sections_on_beam", "SectionOnBeam", 14, "sections_on_beam", nullptr)              \
    X(planes, List, "planes", "Plane", 15, "planes", nullptr)                                                    \
    X(open_slabs, List, "open_slabs", "OpenSlab", 16, "open_slabs", nullptr)                                     \
    X(internal_edges, List, "internal_edges", "InternalEdge", 17, "internal_edges", nullptr)                     \
    X(rigid_arms, List, "rigid_arms", "RigidArm", 18, "rigid_arms", nullptr)                                     \
    X(point_supports, List, "point_supports", "PointSupport", 19, "point_supports", nullptr)                     \
    X(point_supports_line, List, "point_supports_line", "PointSupportLine", 20, "point_supports_line", nullptr)  \
    X(line_supports_line, List, "line_supports_line", "LineSupportLine", 21, "line_supports_line", nullptr)      \
    X(line_supports_surface, List, "line_supports_surface", "LineSupportSurface", 22, "line_supports_surface",   \
      nullptr)                                                                                                   \
    X(surface_supports, List, "surface_supports", "SurfaceSupportSurface", 23, "surface_supports", nullptr)      \
    X(load_cases, List, "load_cases", "LoadCase", 25, "load_cases", nullptr)                                     \
    X(load_groups, List, "load_groups", "LoadGroup", 26, "load_groups", nullptr)                                 \
    X(load_combinations, List, "load_combinations", "LoadCombination", 27, "load_combinations", nullptr)         \
    X(nonlinear_load_combinations, List, "nonlinear_load_combinations", "NonLinearLoadCombination", 28,          \
      "nonlinear_load_combinations", nullptr)                                                                    \
    X(result_classes, List, "result_classes", "ResultClass", 29, "result_classes", nullptr)                      \
    X(point_loads, List, "point_loads", "PointLoad", 31, "point_loads", nullptr)                                 \
    X(point_loads_node, List, "point_loads_node", "PointLoadNode", 30, "point_loads_node", nullptr)              \
    X(point_moments_node, List, "point_moments_node", "PointMomentNode", 32, "point_moments_node", nullptr)      \
    X(line_loads, List, "line_loads", "LineLoad", 33, "line_loads", nullptr)                                     \
    X(line_moments_on_beam, List, "line_moments_on_beam", "LineMomentOnBeam", 34, "line_moments_on_beam",        \
      nullptr)                                                                                                   \
    X(line_moments_on_plane, List, "line_moments_on_plane", "LineMomentOnPlane", 35, "line_moments_on_plane",    \
      nullptr)                                                                                                   \
    X(line_force_surface_list, List, "line_force_surface_list", "LineForceSurface", 36,                          \
      "line_force_surface_list", nullptr)                                                                        \
    X(surface_loads, List, "surface_loads", "SurfaceLoad", 37, "surface_loads", nullptr)                         \
    X(thermal_loads, List, "thermal_loads", "ThermalLoad", 38, "thermal_loads", nullptr)                         \
    X(thermal_surface_loads, List, "thermal_surface_loads", "ThermalSurfaceLoad", 39, "thermal_surface_loads",   \
      nullptr)                                                                                                   \
    X(free_surface_loads, List, "free_surface_loads", "FreeSurfaceLoad", 40, "free_surface_loads", nullptr)      \
    X(free_line_loads, List, "free_line_loads", "FreeLineLoad", 41, "free_line_loads", nullptr)                  \
    X(free_point_loads, List, "free_point_loads", "FreePointLoad", 42, "free_point_loads", nullptr)              \
    X(integration_strips, List, "integration_strips", "IntegrationStrip", 43, "integration_strips", nullptr)     \
    X(averaging_strips, List, "averaging_strips", "AveragingStrip", 44, "averaging_strips", nullptr)             \
    X(sections_on_plane, List, "sections_on_plane", "SectionOnPlane", 45, "sections_on_plane", nullptr)          \
    X(mesh_setup, Setup, "mesh_setup", "MeshSetup", 46, "mesh_setup", nullptr)                                   \
    X(solver_setup, Setup, "solver_setup", "SolverSetup", 47, "solver_setup", nullptr)                           \
    X(project_data, Setup, "project_data", "ProjectData", 48, "project_data", nullptr)

namespace norvale::tarsis::registry {

/// What a Model attribute holds.
enum class Kind { List, Dict, Setup };

/// The rows, by id (also the attribute's index in the constructor's order).
enum Id : int {
#define NORVALE_TARSIS_ID(id, ...) id,
    NORVALE_TARSIS_REGISTRIES(NORVALE_TARSIS_ID)
#undef NORVALE_TARSIS_ID
    id_count
};

struct Row {
    const char *attribute;  ///< instance attribute ("_nodes")
    Kind kind;
    const char *accessor;   ///< read-only property, or nullptr
    const char *element;    ///< kit class of the elements (of the object, for a setup)
    int position;           ///< first document member it fills, -1 for none
    const char *member;     ///< document member at `position`
    const char *second;     ///< document member at `position + 1` when split, else nullptr
};

inline constexpr Row kRows[id_count] = {
#define NORVALE_TARSIS_ROW(id, kind, accessor, element, position, member, second) \
    {"_" #id, Kind::kind, accessor, element, position, member, second},
    NORVALE_TARSIS_REGISTRIES(NORVALE_TARSIS_ROW)
#undef NORVALE_TARSIS_ROW
};

/// One member of the model document: its key, the registry it comes from, and whether it is the
/// second half of a split registry.
struct DocumentMember {
    const char *key = nullptr;
    Id source = id_count;
    bool second = false;
};

inline constexpr std::size_t kDocumentSize = 49;

/// The document members in their order.
constexpr std::array<DocumentMember, kDocumentSize> document_members() {
    std::array<DocumentMember, kDocumentSize> out{};
    for (int r = 0; r < id_count; ++r) {
        const Row &row = kRows[r];
        if (row.position < 0) continue;
        out[static_cast<std::size_t>(row.position)] = {row.member, static_cast<Id>(r), false};
        if (row.second != nullptr)
            out[static_cast<std::size_t>(row.position) + 1] = {row.second, static_cast<Id>(r), true};
    }
    return out;
}

inline constexpr std::array<DocumentMember, kDocumentSize> kDocument = document_members();

constexpr bool document_complete() {
    std::size_t members = 0;
    for (const Row &row : kRows) members += row.position < 0 ? 0 : row.second != nullptr ? 2 : 1;
    for (const DocumentMember &m : kDocument)
        if (m.key == nullptr) return false;
    return members == kDocumentSize;
}
static_assert(document_complete(), "every document position is filled by exactly one registry");

}  // namespace norvale::tarsis::registry
