#include <VelaArray.h>
#include <VelaGeometry.h>

#include <gtest/gtest.h>

TEST(CArray, IndexedAccessOutsideTheCountThrowsInvalidArgument) {
  CArray<double, double> a;
  EXPECT_THROW(a.GetAt(0), std::invalid_argument);
  EXPECT_EQ(a.Add(1.5), 0);
  EXPECT_EQ(a.Add(2.5), 1);
  EXPECT_EQ(a.GetCount(), 2);
  EXPECT_EQ(a.GetAt(1), 2.5);
  for (int bad : {-1, 2}) {
    EXPECT_THROW(a.GetAt(bad), std::invalid_argument);
    EXPECT_THROW(a.SetAt(bad, 0.0), std::invalid_argument);
    EXPECT_THROW(a.ElementAt(bad), std::invalid_argument);
    EXPECT_THROW(a[bad], std::invalid_argument);
  }
  a[0] = 7.0;
  a.SetAt(1, 8.0);
  EXPECT_EQ(a.GetAt(0), 7.0);
  EXPECT_EQ(a.GetAt(1), 8.0);
}

TEST(CArray, CopyTakesCountAndElementsAndCopyOntoItselfDoesNothing) {
  CArray<double, double> a, b;
  a.Add(1.0);
  a.Add(2.0);
  b.Add(9.0);
  b.Copy(a);
  ASSERT_EQ(b.GetSize(), 2);
  EXPECT_EQ(b.GetAt(1), 2.0);
  a.Copy(a);
  ASSERT_EQ(a.GetSize(), 2);
  EXPECT_EQ(a.GetAt(0), 1.0);
  a.RemoveAll();
  EXPECT_EQ(a.GetSize(), 0);
  a.SetSize(3);
  EXPECT_EQ(a.GetAt(2), 0.0);
  EXPECT_THROW(a.SetSize(-1), std::invalid_argument);
}

TEST(BoundaryTypes, FloatPointDifferenceIsFormedInSinglePrecision) {
  const ON_3fPoint a(16777216.0f, 0.1f, 0.0f), b(1.0f, 0.0f, 0.0f);
  const ON_3dVector d = a - b;
  // 2^24 - 1 is exact in float; 0.1f - 0 is the float 0.1, not the double.
  EXPECT_EQ(d.x, 16777215.0);
  EXPECT_EQ(d.y, static_cast<double>(0.1f));
  ON_3dVector zero;
  EXPECT_FALSE(zero.Unitize());
  EXPECT_EQ(zero.Length(), 0.0);
  ON_3dVector v(3.0, 0.0, 4.0);
  EXPECT_TRUE(v.Unitize());
  EXPECT_DOUBLE_EQ(v * ON_3dVector(0.6, 0.0, 0.8), 1.0);
  const ON_3dVector z = ON_CrossProduct(ON_3dVector(1, 0, 0), ON_3dVector(0, 1, 0));
  EXPECT_EQ(z.z, 1.0);
}
