// The OpenGL functions the renderer uses, as a table the host fills through
// its system's resolver (a toolkit's context, or the system's own lookup, with
// the 1.1 functions from the GL library itself, or a browser's WebGL2 through
// the compiler's GL functions). The renderer draws with OpenGL 3.3 core or
// with OpenGL ES 3.0 (which WebGL2 is); the context's version text says which
// (contextDialect). Only these are loaded; no GL header is needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace v2bsp::app::gl {

using GLenum = unsigned int;
using GLbitfield = unsigned int;
using GLuint = unsigned int;
using GLint = int;
using GLsizei = int;
using GLboolean = unsigned char;
using GLfloat = float;
using GLchar = char;
using GLubyte = unsigned char;
using GLsizeiptr = std::ptrdiff_t;

inline constexpr GLenum kFalse = 0;
inline constexpr GLenum kNoError = 0;
inline constexpr GLenum kLines = 0x0001;
inline constexpr GLenum kTriangles = 0x0004;
inline constexpr GLenum kDepthBufferBit = 0x00000100;
inline constexpr GLenum kColorBufferBit = 0x00004000;
inline constexpr GLenum kCullFace = 0x0B44;
inline constexpr GLenum kDepthTest = 0x0B71;
inline constexpr GLenum kPackAlignment = 0x0D05;
inline constexpr GLenum kUnsignedByte = 0x1401;
inline constexpr GLenum kUnsignedShort = 0x1403;
inline constexpr GLenum kFloat = 0x1406;
inline constexpr GLenum kRgba = 0x1908;
inline constexpr GLenum kLine = 0x1B01;
inline constexpr GLenum kFill = 0x1B02;
inline constexpr GLenum kVersion = 0x1F02;
inline constexpr GLenum kNearest = 0x2600;
inline constexpr GLenum kFrontAndBack = 0x0408;
inline constexpr GLenum kPolygonOffsetFill = 0x8037;
inline constexpr GLenum kRgba8 = 0x8058;
inline constexpr GLenum kDepthComponent24 = 0x81A6;
inline constexpr GLenum kArrayBuffer = 0x8892;
inline constexpr GLenum kElementArrayBuffer = 0x8893;
inline constexpr GLenum kStaticDraw = 0x88E4;
inline constexpr GLenum kFragmentShader = 0x8B30;
inline constexpr GLenum kVertexShader = 0x8B31;
inline constexpr GLenum kCompileStatus = 0x8B81;
inline constexpr GLenum kLinkStatus = 0x8B82;
inline constexpr GLenum kInfoLogLength = 0x8B84;
inline constexpr GLenum kReadFramebuffer = 0x8CA8;
inline constexpr GLenum kDrawFramebuffer = 0x8CA9;
inline constexpr GLenum kFramebufferComplete = 0x8CD5;
inline constexpr GLenum kColorAttachment0 = 0x8CE0;
inline constexpr GLenum kDepthAttachment = 0x8D00;
inline constexpr GLenum kFramebuffer = 0x8D40;
inline constexpr GLenum kRenderbuffer = 0x8D41;

// Looks a GL function up by its name ("glClear"); null when the system has
// none. A host whose lookup answers 1, 2, 3 or -1 for a missing function
// need not filter those: the loader takes them as missing.
using Resolver = void* (*)(const char* name);

// The entries keep the names OpenGL gives its functions, without the "gl".
// NOLINTBEGIN(readability-identifier-naming)
struct Functions {
    const GLubyte* (*GetString)(GLenum name) = nullptr;
    GLenum (*GetError)() = nullptr;
    void (*ClearColor)(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) = nullptr;
    void (*Clear)(GLbitfield mask) = nullptr;
    void (*Enable)(GLenum capability) = nullptr;
    void (*Disable)(GLenum capability) = nullptr;
    void (*Viewport)(GLint x, GLint y, GLsizei width, GLsizei height) = nullptr;
    void (*PolygonOffset)(GLfloat factor, GLfloat units) = nullptr;
    // OpenGL 3.3 only: null in OpenGL ES, whose wireframe draws lines.
    void (*PolygonMode)(GLenum face, GLenum mode) = nullptr;
    void (*PixelStorei)(GLenum name, GLint value) = nullptr;
    void (*ReadPixels)(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,
                       void* pixels) = nullptr;
    void (*DrawElements)(GLenum mode, GLsizei count, GLenum type, const void* indices) = nullptr;
    // OpenGL 3.3 only: null in OpenGL ES, whose draws offset the positions instead.
    void (*DrawElementsBaseVertex)(GLenum mode, GLsizei count, GLenum type, const void* indices,
                                   GLint baseVertex) = nullptr;

    GLuint (*CreateShader)(GLenum type) = nullptr;
    void (*ShaderSource)(GLuint shader, GLsizei count, const GLchar* const* text, const GLint* lengths) = nullptr;
    void (*CompileShader)(GLuint shader) = nullptr;
    void (*GetShaderiv)(GLuint shader, GLenum name, GLint* value) = nullptr;
    void (*GetShaderInfoLog)(GLuint shader, GLsizei size, GLsizei* length, GLchar* log) = nullptr;
    void (*DeleteShader)(GLuint shader) = nullptr;
    GLuint (*CreateProgram)() = nullptr;
    void (*AttachShader)(GLuint program, GLuint shader) = nullptr;
    void (*LinkProgram)(GLuint program) = nullptr;
    void (*GetProgramiv)(GLuint program, GLenum name, GLint* value) = nullptr;
    void (*GetProgramInfoLog)(GLuint program, GLsizei size, GLsizei* length, GLchar* log) = nullptr;
    void (*DeleteProgram)(GLuint program) = nullptr;
    void (*UseProgram)(GLuint program) = nullptr;
    GLint (*GetUniformLocation)(GLuint program, const GLchar* name) = nullptr;
    void (*UniformMatrix4fv)(GLint location, GLsizei count, GLboolean transpose, const GLfloat* value) = nullptr;
    void (*Uniform3f)(GLint location, GLfloat x, GLfloat y, GLfloat z) = nullptr;
    void (*Uniform1i)(GLint location, GLint value) = nullptr;

    void (*GenVertexArrays)(GLsizei count, GLuint* arrays) = nullptr;
    void (*BindVertexArray)(GLuint array) = nullptr;
    void (*DeleteVertexArrays)(GLsizei count, const GLuint* arrays) = nullptr;
    void (*GenBuffers)(GLsizei count, GLuint* buffers) = nullptr;
    void (*BindBuffer)(GLenum target, GLuint buffer) = nullptr;
    void (*BufferData)(GLenum target, GLsizeiptr size, const void* data, GLenum usage) = nullptr;
    void (*DeleteBuffers)(GLsizei count, const GLuint* buffers) = nullptr;
    void (*EnableVertexAttribArray)(GLuint index) = nullptr;
    void (*VertexAttribPointer)(GLuint index, GLint size, GLenum type, GLboolean normalized, GLsizei stride,
                                const void* offset) = nullptr;

    void (*GenFramebuffers)(GLsizei count, GLuint* framebuffers) = nullptr;
    void (*BindFramebuffer)(GLenum target, GLuint framebuffer) = nullptr;
    void (*DeleteFramebuffers)(GLsizei count, const GLuint* framebuffers) = nullptr;
    GLenum (*CheckFramebufferStatus)(GLenum target) = nullptr;
    void (*FramebufferRenderbuffer)(GLenum target, GLenum attachment, GLenum renderbufferTarget,
                                    GLuint renderbuffer) = nullptr;
    void (*GenRenderbuffers)(GLsizei count, GLuint* renderbuffers) = nullptr;
    void (*BindRenderbuffer)(GLenum target, GLuint renderbuffer) = nullptr;
    void (*RenderbufferStorage)(GLenum target, GLenum format, GLsizei width, GLsizei height) = nullptr;
    void (*DeleteRenderbuffers)(GLsizei count, const GLuint* renderbuffers) = nullptr;
    void (*BlitFramebuffer)(GLint srcX0, GLint srcY0, GLint srcX1, GLint srcY1, GLint dstX0, GLint dstY0, GLint dstX1,
                            GLint dstY1, GLbitfield mask, GLenum filter) = nullptr;
};
// NOLINTEND(readability-identifier-naming)

// Which OpenGL a context is, and so which shaders and draws the renderer uses.
enum class Dialect {
    core33,  // OpenGL 3.3 core or later
    es30,    // OpenGL ES 3.0 or later, WebGL2 among them
};

// Fills `gl` through `resolve`; empty on success, else why the view cannot be
// drawn ("the OpenGL function glBlitFramebuffer is missing"). Every entry is
// looked up, none is left half filled: on failure `gl` is all null. The
// entries only OpenGL 3.3 has are needed where the current context's version
// text (read through the glGetString found) says it is no OpenGL ES; so the
// host's context must be current.
std::string load(Resolver resolve, Functions& gl);

// The major and minor version of the current context, read from its version
// text ("3.3 (Core Profile) Mesa 22.3.6", "OpenGL ES 3.2 ..."); 0.0 when
// unreadable. Needs GetString.
void contextVersion(const Functions& gl, int& major, int& minor);

// OpenGL ES when the current context's version text begins "OpenGL ES" (as
// WebGL2's does through the compiler's GL: "OpenGL ES 3.0 (WebGL 2.0 ...)"),
// else OpenGL core. Needs GetString.
Dialect contextDialect(const Functions& gl);

}  // namespace v2bsp::app::gl
