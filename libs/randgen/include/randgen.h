/* randgen: pseudo-random deviates from generator objects.
 *
 * A generator draws uniform deviates from one of six uniform methods, scaled to a mean
 * and an amplitude, or Poisson deviates of a given mean fed by a uniform sub-generator.
 *
 * Uniform methods (the seed is the running state, updated by every draw):
 *   0  the C library generator reseeded from the seed, x = r / 32767.0    in [0, 1]
 *   1  as 0, x = r / 32768.0                                               in [0, 1)
 *      (r is the generator's result reduced to 15 bits, 0 to 32767)
 *   2  minimal standard generator with the seed masked                    in (0, 1)
 *   3  minimal standard generator with a 32-entry shuffle           (0, 0.99999988]
 *   4  combination of two congruential generators with a shuffle    (0, 0.99999988]
 *   5  subtractive generator                                                in [0, 1)
 * Methods 3, 4 and 5 keep their tables in the library, shared by every generator
 * using them: a negative seed (for method 3 or 4, also zero) restarts the table at
 * the next draw; a positive seed does not.
 *
 * Not thread-safe: the tables of methods 3 to 5 are shared by all generators, and
 * methods 0 and 1 use the C library's generator state. Use generators of those
 * methods from one thread at a time.
 *
 * Every function accepts a null generator and then does nothing (0 or 0.0). Setters
 * answer 1 when the value was taken, 0 when it was refused or ignored. */
#ifndef RANDGEN_H
#define RANDGEN_H

#include "vexa_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RandomGenerator RandomGenerator;

#define RANDGEN_DEVIATION_UNIFORM 0
#define RANDGEN_DEVIATION_NORMAL 1
#define RANDGEN_DEVIATION_POISSON 2

/* New generator: uniform, method 0, mean 0, amplitude 1, standard deviation 1,
 * seed -13. Null when out of memory. Freed with randNumGenDelete. */
VEXA_API RandomGenerator* randNumGenNew(void);
/* Frees the generator and its sub-generator; always 0. */
VEXA_API int randNumGenDelete(RandomGenerator* generator);

/* 0 uniform, 1 normal, 2 Poisson; other values change nothing. Choosing Poisson sets
 * the mean to 1 and creates a new uniform sub-generator (defaults, mean 0.5) that
 * feeds it, replacing any previous one. Normal generators draw 0.0. */
VEXA_API int randNumGenSetDeviation(RandomGenerator* generator, int deviation);
/* Method 0 to 5; other values change nothing. A uniform generator takes it, a Poisson
 * generator passes it to its sub-generator, a normal generator ignores it. */
VEXA_API int randNumGenSetUniformMethod(RandomGenerator* generator, int method);
/* Passed on like the uniform method. */
VEXA_API int randNumGenSetSeed(RandomGenerator* generator, int seed);
/* Uniform: centre of the output range. Poisson: the mean of the distribution. */
VEXA_API int randNumGenSetMean(RandomGenerator* generator, double mean);
/* Uniform: width of the output range. */
VEXA_API int randNumGenSetAmplitude(RandomGenerator* generator, double amplitude);
/* Kept only; no deviate uses it. */
VEXA_API int randNumGenSetStandardDeviation(RandomGenerator* generator, double deviation);

/* Next deviate. Uniform: (x - 0.5) * amplitude + mean for x drawn from the method.
 * Poisson: a whole number of the given mean, not scaled; a mean below 12 is drawn by
 * multiplying uniform deviates, a larger one by rejection from a Lorentzian. A mean
 * that is not a number or is +infinity is returned as it is. 0.0 for a null
 * generator. */
VEXA_API double randNumGenGetRandomNumber(RandomGenerator* generator);

#ifdef __cplusplus
}
#endif

#endif
