#include "picture.h"

#include <gtest/gtest.h>

namespace {

// Two unit cubes side by side along x, and a prism on top of the first.
MemoryMesh TwoCubesAndAPrism() {
  MemoryMesh m;
  m.SetMeshSize(3, 14);
  const double pts[14][3] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}, {0, 0, 1},
                             {1, 0, 1}, {2, 0, 1}, {0, 1, 1}, {1, 1, 1}, {2, 1, 1}, {0.5, 0, 2}, {0.5, 1, 2}};
  for (int i = 0; i < 14; ++i) m.SetNodeCoord(i, pts[i][0], pts[i][1], pts[i][2]);
  m.SetHexaElement(0, 0, 1, 4, 3, 6, 7, 10, 9);
  m.SetHexaElement(1, 1, 2, 5, 4, 7, 8, 11, 10);
  m.SetPrismElement(2, 6, 12, 7, 9, 13, 10);
  return m;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

// Only the boundary faces turned towards the viewer, each once, painted back
// to front and coloured by kind.
TEST(Picture, DrawsTheVisibleBoundaryFacesOnceBackToFront) {
  const MemoryMesh m = TwoCubesAndAPrism();
  vela::picture::ViewOptions view;
  view.title = std::string("a <test>\0\x1b", 10);
  std::string svg = vela::picture::RenderSvg(m, view);
  EXPECT_EQ(svg.rfind("<svg", 0), 0u);
  EXPECT_NE(svg.find("</svg>\n"), std::string::npos);
  EXPECT_NE(svg.find(">a &lt;test&gt;?" "?</text>"), std::string::npos);  // no control character is valid XML
  const int polygons = Count(svg, "<polygon");
  EXPECT_EQ(polygons, vela::picture::VisibleFaceCount(m, view));
  // 16 boundary faces; seen from the front right and above, the top, front
  // and right sides show: about half of them.
  EXPECT_GT(polygons, 4);
  EXPECT_LT(polygons, 16);
  view.elevationDeg = -90.0;  // from straight below, only the bottom faces of the two cubes show
  EXPECT_EQ(vela::picture::VisibleFaceCount(m, view), 2);

  view.azimuthDeg = 0.0;  // from +x: the right cube's end face and the prism's sloped face
  view.elevationDeg = 0.0;
  svg = vela::picture::RenderSvg(m, view);
  EXPECT_EQ(Count(svg, "<polygon"), 2);
  const size_t prism = svg.find("#f"), hexa = svg.find("fill=\"#4");
  ASSERT_NE(hexa, std::string::npos);
  ASSERT_NE(prism, std::string::npos);
  EXPECT_LT(prism, hexa) << "the farther prism face is painted before the nearer cube face";
  EXPECT_NE(svg.find(">prism 1<"), std::string::npos);
  EXPECT_NE(svg.find(">hexa 2<"), std::string::npos);
}
