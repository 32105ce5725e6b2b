// Vertex stage of the texture view: the quad's corners arrive already in clip space.
// GLSL 1.30 (OpenGL 3.0); attribute locations are fixed here because the program binds none.
#version 130
#extension GL_ARB_explicit_attrib_location : require

layout(location = 0) in vec3 position;
layout(location = 1) in vec2 texCoord;

out vec2 vTexCoord;

void main() {
  vTexCoord = texCoord;
  gl_Position = vec4(position, 1.0);
}
