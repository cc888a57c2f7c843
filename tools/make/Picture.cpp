#include "tools/make/Picture.h"

#include <algorithm>
#include <cmath>

namespace ifzvk::make {
namespace {

struct Vec {
  double x, y, z;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(Vec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec Normalize(Vec a) { return a * (1.0 / std::sqrt(Dot(a, a))); }

struct Ball {
  Vec centre;
  double radius;
  Vec colour;
  double mirror;  // share of reflected light
};

const Ball kBalls[] = {
    {{-1.3, 0.8, 4.6}, 0.8, {0.85, 0.18, 0.15}, 0.15},
    {{0.35, 1.0, 6.0}, 1.0, {0.9, 0.9, 0.92}, 0.65},
    {{1.55, 0.55, 4.0}, 0.55, {0.2, 0.45, 0.9}, 0.2},
};
const Vec kLight = Normalize({-0.6, 1.0, -0.5});
constexpr double kFar = 1e9;

struct Hit {
  double distance = kFar;
  Vec point{}, normal{}, colour{};
  double mirror = 0;
};

double HitBall(const Ball& ball, Vec origin, Vec direction) {
  const Vec offset = origin - ball.centre;
  const double b = Dot(offset, direction);
  const double c = Dot(offset, offset) - ball.radius * ball.radius;
  const double discriminant = b * b - c;
  if (discriminant < 0) return kFar;
  const double t = -b - std::sqrt(discriminant);
  return t > 1e-6 ? t : kFar;
}

Hit Trace(Vec origin, Vec direction) {
  Hit hit;
  for (const Ball& ball : kBalls) {
    const double t = HitBall(ball, origin, direction);
    if (t < hit.distance) {
      hit.distance = t;
      hit.point = origin + direction * t;
      hit.normal = Normalize(hit.point - ball.centre);
      hit.colour = ball.colour;
      hit.mirror = ball.mirror;
    }
  }
  if (direction.y < -1e-6) {  // the floor is the plane y = 0
    const double t = -origin.y / direction.y;
    if (t > 1e-6 && t < hit.distance) {
      hit.distance = t;
      hit.point = origin + direction * t;
      hit.normal = {0, 1, 0};
      const bool dark = (static_cast<int>(std::floor(hit.point.x)) + static_cast<int>(std::floor(hit.point.z))) & 1;
      hit.colour = dark ? Vec{0.25, 0.22, 0.2} : Vec{0.85, 0.82, 0.75};
      hit.mirror = 0.1;
    }
  }
  return hit;
}

Vec Sky(Vec direction) {
  const double up = std::max(0.0, direction.y);
  return Vec{0.95, 0.85, 0.7} * (1 - up) + Vec{0.3, 0.5, 0.9} * up;
}

Vec Shade(Vec origin, Vec direction, int depth) {
  const Hit hit = Trace(origin, direction);
  if (hit.distance >= kFar) return Sky(direction);
  const bool shadowed = Trace(hit.point + hit.normal * 1e-4, kLight).distance < kFar;
  const double diffuse = shadowed ? 0.0 : std::max(0.0, Dot(hit.normal, kLight));
  Vec colour = hit.colour * (0.2 + 0.8 * diffuse);
  const Vec reflected = direction - hit.normal * (2 * Dot(direction, hit.normal));
  if (!shadowed) colour = colour + Vec{1, 1, 1} * std::pow(std::max(0.0, Dot(reflected, kLight)), 40);
  if (depth > 0 && hit.mirror > 0) {
    colour = colour * (1 - hit.mirror) + Shade(hit.point + hit.normal * 1e-4, reflected, depth - 1) * hit.mirror;
  }
  const double fog = std::exp(-hit.distance * 0.02);  // distant floor fades into the horizon
  return colour * fog + Sky(direction) * (1 - fog);
}

std::uint32_t ToPixel(Vec colour) {
  const auto channel = [](double value) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
  };
  return 0xFF000000u | (channel(colour.x) << 16) | (channel(colour.y) << 8) | channel(colour.z);
}

}  // namespace

Picture RenderScene(int side) {
  Picture picture;
  picture.width = picture.height = side;
  picture.pixels.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
  const Vec eye{0, 1.6, -1.0};
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      Vec sum{0, 0, 0};
      for (int sample = 0; sample < 4; ++sample) {  // 2 x 2 samples per pixel smooth the edges
        const double u = ((x + 0.25 + 0.5 * (sample & 1)) / side - 0.5) * 1.2;
        const double v = (0.5 - (y + 0.25 + 0.5 * (sample >> 1)) / side) * 1.2 - 0.25;
        sum = sum + Shade(eye, Normalize({u, v, 1}), 2);
      }
      picture.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)] =
          ToPixel(sum * 0.25);
    }
  }
  return picture;
}

}  // namespace ifzvk::make
